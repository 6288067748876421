// What a page's payment has under way when it ends, or when the page starts or asks
// again meanwhile, with the host keeping its own environment (1) or sharing the page's
// (2): nothing of the payment reaches the host's delegate, the next checkout starts, and
// a refused further request ends nothing. Two pages: each hears only what concerns its
// own payment, and the first's stale steps end nothing of the second's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "libmerovane/application/MVPaymentServices.h"
#include "platform/ui/Application.h"
#include "tests/payments/PaymentsFixture.h"

using nlohmann::json;

namespace {

class TesseraWalletPaymentEndTest : public PaymentsFixture,
                                    public ::testing::WithParamInterface<int32_t> {
  protected:
    TesseraWalletPaymentEndTest() { hostEnvironment_ = GetParam(); }

    // A proxy card for every full-wallet request, held until release(hold).
    void serveHeldCard(const std::string& hold) {
        wallet_.http().handle(
            WalletTestServer::kFullWalletPath, [hold](const HttpTestServer::Request& request) {
                walletproto::OWBenderGetFullWalletResponse card;
                card.set_iin("411111");
                char rest[32];
                snprintf(rest, sizeof rest, "%llx",
                         static_cast<unsigned long long>(
                             1234567 ^ WalletTestServer::padOf(request).value_or(0)));
                card.set_rest(rest);
                card.set_expiration_month(3);
                card.set_expiration_year(2030);
                HttpTestServer::Response response;
                response.body = card.SerializeAsString();
                response.headers.set("Content-Type", "application/x-protobuf");
                response.holdUntilReleased = hold;
                return response;
            });
    }
    static json fullWalletRequest(const char* total, const char* transaction = "T-1") {
        return {{"c", "tesseraWalletSendFullWalletRequest"},
                {"p",
                 {{"lineItems",
                   {{{"description", "item"}, {"role", "regular"}, {"totalPrice", total}}}},
                  {"currencyCode", "EUR"},
                  {"totalPrice", total},
                  {"tesseraTransactionId", transaction}}}};
    }
    static void performAll(const json& commands) {
        MVCommandHandler::performCommandsFromCommandCollection({{"ver", "1.0"}, {"cmds", commands}},
                                                               nullptr);
    }
    // A fresh stand-in that keeps the buyer, and a start whose request it has.
    void startWhileTheBuyerStaysInTheWalletApplication() {
        standIn_.emplace();
        standIn_->setResponse(standInResponse());
        standIn_->setMode(WalletStandInApp::Mode::Silent);
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(waitForStandInRequests(1));
    }
    // The buyer's reply to the wallet application's first request, as a URL.
    std::string standInReply(size_t index = 0) {
        const auto& request = standIn_->requests().at(index);
        return request.callback_url() + "?" + standIn_->normalReply(request, false).value_or("");
    }
    // The library application's part in a URL another application opens, while the
    // library's payment runs.
    static bool libraryOpensURL(const std::string& url) {
        auto payments = MVPaymentServices::shared();
        return payments->isLibSidedPaymentProcessAtPresent() &&
               payments->handleOpenURL(url, WalletStandInApp::kBundleId);
    }
    // Ends with the host's values and the host's delegate told nothing.
    void expectHostUntouched() {
        EXPECT_FALSE(lent());
        expectHostValues();
        EXPECT_TRUE(hostDelegate_->events.empty()) << hostDelegate_->events.size() << " calls";
    }
    size_t commandsNamed(const char* name) {
        size_t count = 0;
        for (const auto& command : walletCommands()) count += command["c"] == name;
        return count;
    }
};

// The end comes before the full-wallet request reaches the server, or while the server
// holds it.
TEST_P(TesseraWalletPaymentEndTest, AFullWalletUnderWayEndsWithThePayment) {
    const struct {
        json end;
        bool atTheServer;
    } rows[] = {
        {{{"success", false}, {"errorReason", "other"}}, false},
        {{{"success", false}, {"errorReason", "other"}}, true},
        {{{"success", true}}, false},
        {{{"success", false}, {"errorReason", "declined"}}, true},
    };
    ASSERT_NO_FATAL_FAILURE(stream());
    for (const auto& row : rows) {
        const std::string hold = "card " + std::to_string(&row - rows);
        serveHeldCard(hold);
        SCOPED_TRACE(row.end.dump() + (row.atTheServer ? " at the server" : " same turn"));
        const size_t asked = wallet_.requestCount(WalletTestServer::kFullWalletPath);
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        const size_t ignored = loggedCount("Ignoring the full wallet");
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
        perform(fullWalletRequest("5.00"));
        if (row.atTheServer) {
            ASSERT_TRUE(waitFor(
                [&] { return wallet_.requestCount(WalletTestServer::kFullWalletPath) > asked; }));
        }
        perform({{"c", "tesseraWalletEnd"}, {"p", row.end}});
        wallet_.http().release(hold);
        ASSERT_TRUE(drive([&] {
            return loggedCount("Ignoring the full wallet") > ignored ||
                   !hostDelegate_->events.empty() ||
                   commandsNamed("tesseraWalletFullWalletResponse") > 0;
        }));
        platform::runUntilIdle();
        expectHostUntouched();
        EXPECT_EQ(commandsNamed("tesseraWalletFullWalletResponse"), 0u);
    }
}

// A second cart while the first request runs is refused to the page, and the refusal
// ends the payment: the client is given back, the first one's card reaches nobody, and
// the next checkout starts.
TEST_P(TesseraWalletPaymentEndTest, ARefusedSecondFullWalletRequestEndsThePayment) {
    const struct {
        json second;
        bool sameCollection;
        const char* error;
        const char* description;
    } rows[] = {
        {fullWalletRequest("7.00"), true, "TesseraWalletErrorIntegrationError",
         "A different transaction is currently in progress. (Error 607)"},
        {fullWalletRequest("7.00"), false, "TesseraWalletErrorIntegrationError",
         "A different transaction is currently in progress. (Error 607)"},
    };
    wallet_.serveProxyCard("411111", 1234567, 3, 2030);
    ASSERT_NO_FATAL_FAILURE(stream());
    listeningPage();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.second.dump());
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") == i + 1; }));
        const size_t ignored = loggedCount("Ignoring the full wallet");
        if (row.sameCollection) {
            performAll({fullWalletRequest("5.00"), row.second});
        } else {
            perform(fullWalletRequest("5.00"));
            perform(row.second);
        }
        const auto errors = walletErrors();
        ASSERT_EQ(errors.size(), i + 1);
        EXPECT_EQ(errors.back(), walletError(row.error, row.description, "fullWallet"));
        expectHostUntouched();
        ASSERT_TRUE(drive([&] { return loggedCount("Ignoring the full wallet") > ignored; }));
        platform::runUntilIdle();
        EXPECT_EQ(commandsNamed("tesseraWalletFullWalletResponse"), 0u);
        expectHostUntouched();
    }
}

// The page ends the payment while the buyer is in the wallet application; then the
// buyer's reply reaches the client (the host routes URLs again), or the buyer comes back
// without one, or neither before the page's next checkout, which starts.
TEST_P(TesseraWalletPaymentEndTest, AnEndWhileTheBuyerChoosesEndsTheRequestAndTheNextStarts) {
    enum class Back { Reply, Cancel, Nothing };
    const struct {
        json end;
        Back back;
    } rows[] = {
        {{{"success", false}, {"errorReason", "other"}}, Back::Reply},
        {{{"success", true}}, Back::Cancel},
        {{{"success", false}, {"errorReason", "badCard"}}, Back::Nothing},
        {{{"success", true}}, Back::Reply},
    };
    ASSERT_NO_FATAL_FAILURE(stream());
    listeningPage();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.end.dump() + " back " + std::to_string(static_cast<int>(row.back)));
        ASSERT_NO_FATAL_FAILURE(startWhileTheBuyerStaysInTheWalletApplication());
        perform({{"c", "tesseraWalletEnd"}, {"p", row.end}});
        expectHostUntouched();
        if (row.back == Back::Reply)
            TWAWalletClient::handleOpenURL(*platform::URL::parse(standInReply()),
                                           WalletStandInApp::kBundleId, nullptr);
        if (row.back == Back::Cancel) platform::Application::shared().becomeActive();
        platform::runUntilIdle();
        expectHostUntouched();

        standIn_->setMode(WalletStandInApp::Mode::Normal);
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(waitForStandInRequests(2));
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") == i + 1; }));
        EXPECT_TRUE(walletErrors().empty());
        EXPECT_TRUE(lent());
        perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        expectHostUntouched();
    }
}

// Further starts once the wallet application has the request (at once, or later while
// the buyer chooses) ask for nothing and end nothing: the buyer's reply is taken.
TEST_P(TesseraWalletPaymentEndTest, AStartWhileTheWalletApplicationHasTheRequestEndsNothing) {
    const struct {
        double after;  // seconds past the first request
        int starts;
        const char* total;
    } rows[] = {{0, 1, "12.50"}, {0.05, 1, "99.00"}, {3, 2, "99.00"}};
    ASSERT_NO_FATAL_FAILURE(stream());
    listeningPage();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.after);
        ASSERT_NO_FATAL_FAILURE(startWhileTheBuyerStaysInTheWalletApplication());
        platform::advanceBy(row.after);
        for (int n = 0; n < row.starts; ++n) {
            start({{"clientId", "page-id"}, {"clientSecret", "page-secret"}},
                  {{"totalPrice", row.total}});
            platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        }
        platform::runUntilIdle();
        EXPECT_EQ(standIn_->requests().size(), 1u);
        EXPECT_TRUE(walletErrors().empty());
        ASSERT_TRUE(lent());
        EXPECT_TRUE(libraryOpensURL(standInReply()));
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") == i + 1; }));
        EXPECT_EQ(walletCommands().back()["p"]["tesseraTransactionId"], "T-1");
        perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        expectHostUntouched();
    }
}

// Owners and moments: a page's payment, stopped at each moment, meets the host taking
// the client (then or later starting its own checkout), the page ending or sending again,
// or another merchant's page starting. In every cell nothing of the page reaches the host
// or the other merchant, each party hears one final answer, nothing is sent for an ended
// transaction, and then the page's and the host's next checkouts both start.
class TesseraWalletOwnersTest : public TesseraWalletPaymentEndTest {
  protected:
    enum class Moment { PageStart, WalletApplication, MaskedWallet, FullWalletOut, Configuration };
    enum class Act {
        HostTakesOver,
        HostStartsItsOwn,
        HostEnds,  // reports a status while the page's payment runs
        PageEnds,
        PageResends,
        AnotherPageStarts,
        // The host sets a value of its own anew first (then its delegate and the rest), or
        // only that value.
        HostRenewsIdFirst,
        HostRenewsSecretFirst,
        HostRenewsEnvironmentFirst,
        HostRenewsOnlyId,
        HostRenewsOnlySecret,
        HostRenewsOnlyEnvironment,
        // The host sets only its delegate, to itself or first to none and later to itself,
        // and then checks out.
        HostSetsOnlyItsDelegate,
        HostSetsOnlyNoDelegate,
        // The host asks whether its buyer is preauthorized.
        HostAsksPreauthorization,
        // The host reads its id, its secret, its delegate, its environment, or all four
        // values, and sets back what it read.
        HostSetsBackId,
        HostSetsBackSecret,
        HostSetsBackDelegate,
        HostSetsBackEnvironment,
        HostSetsBackAll,
        // The host sets another delegate of its own.
        HostRenewsDelegate,
        // The host ends its transaction, or sets one.
        HostEndsTransaction,
        HostSetsTransactionContext
    };
    enum class Value { None, Id, Secret, Environment, Delegate };
    static constexpr const char* kOtherId = "other-id";
    static constexpr const char* kNewHostId = "host-id-2";
    static constexpr const char* kNewHostSecret = "host-secret-2";

    struct Expected {
        std::vector<json> pageErrors;
        size_t updates = 0;  // reaching the shop's server after the act
        size_t cards = 0;
        size_t standInRequests = 0;  // the wallet application asked after the act
        std::vector<WalletClientEvent::Kind> host;
    };

    static json credentialsChanged(const char* occurrence) {
        return walletError(MVTesseraWallet::kCredentialsChangedError,
                           MVTesseraWallet::kCredentialsChangedDescription, occurrence)[0];
    }
    static json refused() {
        return walletError("TesseraWalletErrorIntegrationError",
                           "A new transaction can't be started since a transaction is currently "
                           "in progress. (Error 611)",
                           "maskedWallet")[0];
    }
    static Expected expected(Moment moment, Act act) {
        using K = WalletClientEvent::Kind;
        const bool atWalletApplication =
            moment == Moment::WalletApplication || moment == Moment::Configuration;
        const char* occurrence = moment == Moment::FullWalletOut ? "fullWallet" : "maskedWallet";
        // What the host sets is its own and ends nothing.
        if (renewed(act) != Value::None || setsBack(act) || act == Act::HostTakesOver)
            act = Act::HostAsksPreauthorization;
        if (act == Act::HostSetsOnlyItsDelegate || act == Act::HostSetsOnlyNoDelegate)
            act = Act::HostStartsItsOwn;
        switch (act) {
            case Act::HostEndsTransaction:
            case Act::HostSetsTransactionContext:
                return {{credentialsChanged(occurrence)}, 0, 0, 0, {}};
            case Act::HostStartsItsOwn:
                return {{credentialsChanged(occurrence)}, 0, 0, 1, {K::MaskedWallet}};
            case Act::HostEnds:
            case Act::HostAsksPreauthorization:
                // A request under way still answers the page; an idle one has ended. A
                // question ends nothing: the payment goes on.
                if (moment == Moment::MaskedWallet) return {};
                if (moment == Moment::FullWalletOut) return {{}, 0, 1, 0, {}};
                return {{}, 1, 0, moment == Moment::WalletApplication ? 0u : 1u, {}};
            case Act::PageEnds:
                return {};
            case Act::PageResends:
                if (moment == Moment::FullWalletOut) return {{}, 0, 1, 0, {}};
                return {{}, 1, 0, moment == Moment::WalletApplication ? 0u : 1u, {}};
            case Act::AnotherPageStarts:
            default:
                if (atWalletApplication)
                    return {{refused()}, 1, 0, moment == Moment::Configuration ? 1u : 0u, {}};
                return {{credentialsChanged(occurrence)}, 1, 0, 1, {}};
        }
        return {};
    }

    // The configurations answer once `hold` is released; the client is made anew, as at
    // a launch, so that its first checkout waits for the download.
    void relaunchWithTheConfigurationHeld(const std::string& hold) {
        for (const char* suffix : {"sandbox", "prod"}) {
            HttpTestServer::Response response;
            response.body = WalletStandInApp::configuration().SerializeAsString();
            response.headers.set("Content-Type", "application/x-protobuf");
            response.holdUntilReleased = hold;
            wallet_.http().respond(WalletTestServer::configurationPath(suffix), response);
        }
        TWAWalletClient::setSharedInstance(nullptr);
        client_ = TWAWalletClient::sharedInstance();
        client_->setDelegate(hostDelegate_);
        client_->setClientId(kHostId);
        client_->setClientSecret(kHostSecret);
        client_->setEnvironment(hostEnvironment_);
        platform::runUntilIdle();
    }
    void reach(Moment moment, const std::string& hold) {
        standIn_->setMode(WalletStandInApp::Mode::Normal);
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        const size_t asked = standIn_->requests().size();
        switch (moment) {
            case Moment::PageStart:
                start();
                return;
            case Moment::WalletApplication:
                standIn_->setMode(WalletStandInApp::Mode::Silent);
                start();
                platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                ASSERT_TRUE(waitForStandInRequests(asked + 1));
                return;
            case Moment::MaskedWallet:
            case Moment::FullWalletOut: {
                start();
                platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
                if (moment == Moment::MaskedWallet) return;
                serveHeldCard(hold);
                const size_t cards = wallet_.requestCount(WalletTestServer::kFullWalletPath);
                perform(fullWalletRequest("5.00"));
                ASSERT_TRUE(waitFor([&] {
                    return wallet_.requestCount(WalletTestServer::kFullWalletPath) > cards;
                }));
                return;
            }
            case Moment::Configuration:
                relaunchWithTheConfigurationHeld(hold);
                start();
                platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                ASSERT_TRUE(lent());
                ASSERT_EQ(standIn_->requests().size(), asked);
                return;
        }
    }
    static Value renewed(Act act) {
        switch (act) {
            case Act::HostRenewsIdFirst:
            case Act::HostRenewsOnlyId:
                return Value::Id;
            case Act::HostRenewsSecretFirst:
            case Act::HostRenewsOnlySecret:
                return Value::Secret;
            case Act::HostRenewsEnvironmentFirst:
            case Act::HostRenewsOnlyEnvironment:
                return Value::Environment;
            case Act::HostRenewsDelegate:
                return Value::Delegate;
            default:
                return Value::None;
        }
    }
    static bool setsBack(Act act) {
        return act >= Act::HostSetsBackId && act <= Act::HostSetsBackAll;
    }
    // The host reads what `act` names (its own values, never the page's) and sets it back.
    void hostSetsBack(Act act) {
        const auto delegate = client_->delegate();
        const auto id = client_->clientId();
        const auto secret = client_->clientSecret();
        const auto environment = client_->environment();
        EXPECT_EQ(delegate, hostDelegate_);
        EXPECT_EQ(id, kHostId);
        EXPECT_EQ(secret, kHostSecret);
        EXPECT_EQ(environment, hostEnvironment_);
        const bool all = act == Act::HostSetsBackAll;
        if (all || act == Act::HostSetsBackDelegate) client_->setDelegate(delegate);
        if (all || act == Act::HostSetsBackId) client_->setClientId(id);
        if (all || act == Act::HostSetsBackSecret) client_->setClientSecret(secret);
        if (all || act == Act::HostSetsBackEnvironment) client_->setEnvironment(environment);
    }
    // The host's question is answered to the host, once, and the payment goes on.
    void hostAsks() {
        const auto answers = [&] {
            return std::count_if(
                hostDelegate_->events.begin(), hostDelegate_->events.end(),
                [](const auto& e) { return e.kind == WalletClientEvent::Preauthorized; });
        };
        const auto before = answers();
        const bool wasLent = lent();
        client_->checkForPreauthorization();
        EXPECT_EQ(answers(), before + 1);
        EXPECT_EQ(lent(), wasLent);
    }
    int32_t newHostEnvironment() const { return hostEnvironment_ == 2 ? 1 : 0; }
    // The host sets `value` anew and then, unless `alone`, its delegate and its other values.
    void hostRenews(Value value, bool alone) {
        if (value == Value::Id) client_->setClientId(kNewHostId);
        if (value == Value::Secret) client_->setClientSecret(kNewHostSecret);
        if (value == Value::Environment) client_->setEnvironment(newHostEnvironment());
        if (value == Value::Delegate) client_->setDelegate(otherHostDelegate_);
        if (alone) return;
        if (value != Value::Delegate) client_->setDelegate(hostDelegate_);
        if (value != Value::Id) client_->setClientId(kHostId);
        if (value != Value::Secret) client_->setClientSecret(kHostSecret);
        if (value != Value::Environment) client_->setEnvironment(hostEnvironment_);
    }
    void expectRenewed(Value value) {
        EXPECT_EQ(client_->delegate(),
                  value == Value::Delegate ? otherHostDelegate_ : hostDelegate_);
        EXPECT_EQ(client_->clientId(), value == Value::Id ? kNewHostId : kHostId);
        EXPECT_EQ(client_->clientSecret(), value == Value::Secret ? kNewHostSecret : kHostSecret);
        EXPECT_EQ(client_->environment(),
                  value == Value::Environment ? newHostEnvironment() : hostEnvironment_);
    }
    void hostTakesOver() { hostRenews(Value::None, false); }
    void hostChecksOut() {
        standIn_->setMode(WalletStandInApp::Mode::Normal);
        client_->loadMaskedWallet(TWAMaskedWalletRequest::create("USD", "1.00"));
    }
    void actOn(Act act, Moment moment) {
        switch (act) {
            case Act::HostTakesOver:
                hostTakesOver();
                break;
            case Act::HostStartsItsOwn:
                hostTakesOver();
                hostChecksOut();
                break;
            case Act::HostEnds:
                client_->notifyTransactionStatus(0);
                break;
            case Act::PageEnds:
                perform({{"c", "tesseraWalletEnd"},
                         {"p", {{"success", false}, {"errorReason", "other"}}}});
                break;
            case Act::PageResends:
                if (moment == Moment::FullWalletOut)
                    perform(fullWalletRequest("5.00"));
                else
                    start();
                break;
            case Act::AnotherPageStarts:
                start({{"clientId", kOtherId}, {"clientSecret", "other-secret"}});
                break;
            case Act::HostSetsOnlyItsDelegate:
            case Act::HostSetsOnlyNoDelegate:
                if (act == Act::HostSetsOnlyNoDelegate) client_->setDelegate({});
                client_->setDelegate(hostDelegate_);
                hostChecksOut();
                // The host's checkout goes out with the host's own values.
                expectHostValues();
                EXPECT_EQ(client_->transactionContext()->environment(), hostEnvironment_);
                break;
            case Act::HostAsksPreauthorization:
                hostAsks();
                break;
            case Act::HostEndsTransaction:
                client_->endTransaction();
                EXPECT_FALSE(lent());
                break;
            case Act::HostSetsTransactionContext:
                client_->setTransactionContext(
                    TWAClientSDKTransactionContext::create(hostEnvironment_, nullptr));
                EXPECT_FALSE(lent());
                break;
            case Act::HostSetsBackId:
            case Act::HostSetsBackSecret:
            case Act::HostSetsBackDelegate:
            case Act::HostSetsBackEnvironment:
            case Act::HostSetsBackAll:
                hostSetsBack(act);
                break;
            default:
                hostRenews(renewed(act), act >= Act::HostRenewsOnlyId);
                break;
        }
    }
    // The buyer's reply to request `index` comes back through the host's routing.
    void replyTo(size_t index) {
        const auto& request = standIn_->requests().at(index);
        TWAWalletClient::handleOpenURL(
            *platform::URL::parse(request.callback_url() + "?" +
                                  standIn_->normalReply(request, false).value_or("")),
            WalletStandInApp::kBundleId, nullptr);
        platform::Application::shared().becomeActive();
    }
    // Real I/O and the clock by turns for a while: what must not come has had its chance.
    static void settle() {
        for (int i = 0; i < 6; ++i) {
            platform::runUntil([] { return false; }, 0.02);
            platform::advanceBy(0.05);
        }
    }
    std::vector<WalletClientEvent::Kind> hostKinds() {
        std::vector<WalletClientEvent::Kind> kinds;
        for (const auto& event : hostDelegate_->events)
            if (event.kind != WalletClientEvent::Preauthorized) kinds.push_back(event.kind);
        return kinds;
    }
    // The page's and then the host's next checkout start and are answered.
    void nextCheckoutsStart(size_t hostEvents) {
        standIn_->setMode(WalletStandInApp::Mode::Normal);
        if (lent()) perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        client_->notifyTransactionStatus(0);
        ASSERT_FALSE(lent());
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        const size_t errors = walletErrors().size();
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
        EXPECT_EQ(walletCommands().back()["p"]["mail"], "buyer@example.com");
        perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        EXPECT_EQ(walletErrors().size(), errors);
        EXPECT_EQ(hostKinds().size(), hostEvents);
        expectHostValues();
        hostChecksOut();
        ASSERT_TRUE(drive([&] { return hostKinds().size() > hostEvents; }));
        EXPECT_EQ(hostKinds().back(), WalletClientEvent::MaskedWallet)
            << hostDelegate_->events.back().error->localizedDescription();
        client_->notifyTransactionStatus(0);
        settle();
        EXPECT_EQ(hostKinds().size(), hostEvents + 1);
    }
    // The payment goes on with the host's values kept for it; its end gives the host its
    // values back (the environment's own transaction with them).
    void expectKeptAndInForce(Value value) {
        const int32_t environment =
            value == Value::Environment ? newHostEnvironment() : hostEnvironment_;
        ASSERT_TRUE(lent());
        expectHostReadsItsOwn(value == Value::Id ? kNewHostId : kHostId,
                              value == Value::Secret ? kNewHostSecret : kHostSecret, environment,
                              value == Value::Delegate ? otherHostDelegate_ : hostDelegate_);
        perform({{"c", "tesseraWalletEnd"}, {"p", {{"success", true}}}});
        ASSERT_FALSE(lent());
        expectRenewed(value);
        EXPECT_EQ(client_->transactionContext()->environment(), environment);
        const auto preauthorized = otherHostDelegate_->events.size();
        client_->checkForPreauthorization();
        EXPECT_EQ(otherHostDelegate_->events.size(),
                  preauthorized + (value == Value::Delegate ? 1 : 0));
        hostTakesOver();
    }
    // Every act at every moment, each cell then both next checkouts.
    void meetEveryMoment(const std::vector<Act>& acts) {
        const Moment moments[] = {Moment::PageStart, Moment::WalletApplication,
                                  Moment::MaskedWallet, Moment::FullWalletOut,
                                  Moment::Configuration};
        ASSERT_NO_FATAL_FAILURE(stream());
        listeningPage();
        int cell = 0;
        for (auto moment : moments) {
            for (auto act : acts) {
                SCOPED_TRACE("moment " + std::to_string(static_cast<int>(moment)) + ", act " +
                             std::to_string(static_cast<int>(act)));
                const std::string hold = "cell " + std::to_string(++cell);
                const auto expect = expected(moment, act);
                hostDelegate_->events.clear();
                const size_t errors = walletErrors().size();
                ASSERT_NO_FATAL_FAILURE(reach(moment, hold));
                const size_t firstRequest = standIn_->requests().size() - 1;
                const size_t asked = standIn_->requests().size();
                const size_t updates = commandsNamed("tesseraWalletUpdate");
                const size_t cards = commandsNamed("tesseraWalletFullWalletResponse");
                // Whatever the moment, the host reads its own values and nothing of the page.
                expectHostReadsItsOwn();
                actOn(act, moment);
                platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                standIn_->setMode(WalletStandInApp::Mode::Normal);
                if (moment == Moment::WalletApplication) replyTo(firstRequest);
                wallet_.http().release(hold);
                drive([&] {
                    return commandsNamed("tesseraWalletUpdate") - updates >= expect.updates &&
                           commandsNamed("tesseraWalletFullWalletResponse") - cards >=
                               expect.cards &&
                           hostKinds().size() >= expect.host.size() &&
                           standIn_->requests().size() - asked >= expect.standInRequests;
                });
                settle();
                auto pageErrors = walletErrors();
                pageErrors.erase(pageErrors.begin(), pageErrors.begin() + errors);
                std::vector<json> flat;
                for (const auto& error : pageErrors) flat.push_back(error[0]);
                EXPECT_EQ(flat, expect.pageErrors);
                EXPECT_EQ(commandsNamed("tesseraWalletUpdate") - updates, expect.updates);
                EXPECT_EQ(commandsNamed("tesseraWalletFullWalletResponse") - cards, expect.cards);
                EXPECT_EQ(standIn_->requests().size() - asked, expect.standInRequests);
                EXPECT_EQ(hostKinds(), expect.host);
                for (size_t i = asked; i < standIn_->requests().size(); ++i)
                    EXPECT_EQ(standIn_->requests()[i].oauth_client_id(),
                              expect.host == std::vector{WalletClientEvent::MaskedWallet} ? kHostId
                              : act == Act::AnotherPageStarts && expect.pageErrors.size() &&
                                      expect.pageErrors[0] != refused()
                                  ? kOtherId
                                  : "page-id");
                // What the host sets is kept for it while the payment goes on, and in force
                // when the client comes back.
                if (renewed(act) != Value::None || setsBack(act) || act == Act::HostTakesOver) {
                    ASSERT_NO_FATAL_FAILURE(expectKeptAndInForce(renewed(act)));
                }
                // The transaction's end gives the client back with the host's values.
                if (act == Act::HostEndsTransaction || act == Act::HostSetsTransactionContext)
                    expectHostValues();
                ASSERT_NO_FATAL_FAILURE(nextCheckoutsStart(expect.host.size()));
            }
        }
    }
};

TEST_P(TesseraWalletOwnersTest, APagesPaymentMeetsEveryOwnerAtEveryMoment) {
    meetEveryMoment({Act::HostStartsItsOwn, Act::HostEnds, Act::PageEnds, Act::PageResends,
                     Act::AnotherPageStarts});
}

// The host sets its id, secret, environment or delegate anew (before the rest of its
// values, or alone), or sets all four again: the page's payment goes on, and what the
// host set is its own, in force once the client comes back.
TEST_P(TesseraWalletOwnersTest, WhatTheHostSetsDuringAPagesPaymentIsItsOwnAndEndsNothing) {
    meetEveryMoment({Act::HostRenewsIdFirst, Act::HostRenewsSecretFirst,
                     Act::HostRenewsEnvironmentFirst, Act::HostRenewsOnlyId,
                     Act::HostRenewsOnlySecret, Act::HostRenewsOnlyEnvironment,
                     Act::HostRenewsDelegate, Act::HostTakesOver});
}

// The host asks whether its buyer is preauthorized (as when its own screen appears): the
// host hears the answer, and the page's payment goes on. The host reads its id, its
// secret, its delegate, its environment or all four, and sets back what it read (a
// settings screen that writes what it shows): it reads its own values only, and the
// page's payment goes on.
TEST_P(TesseraWalletOwnersTest, HostQuestionsAndSettingBackEndNothing) {
    meetEveryMoment({Act::HostAsksPreauthorization, Act::HostSetsBackId, Act::HostSetsBackSecret,
                     Act::HostSetsBackDelegate, Act::HostSetsBackEnvironment,
                     Act::HostSetsBackAll});
}

// The host ends its transaction or sets one while a page's payment runs: that needs the
// client's transaction, so the page hears that its payment ended, nothing more of it goes
// out, and the client is the host's again.
TEST_P(TesseraWalletOwnersTest, TheHostEndingOrSettingATransactionEndsThePagesPayment) {
    meetEveryMoment({Act::HostEndsTransaction, Act::HostSetsTransactionContext});
}

// The host's own checkout, stopped at each moment, meets a page's start: a start while
// the buyer is (or is about to be) in the wallet application for the host is refused
// before the buyer is sent there; otherwise the page takes the client and the host hears
// that its transaction ended.
TEST_P(TesseraWalletOwnersTest, TheHostsCheckoutMeetsAPagesStartAtEveryMoment) {
    using K = WalletClientEvent::Kind;
    const struct {
        Moment moment;
        bool refused;
        std::vector<K> host;
    } rows[] = {
        {Moment::WalletApplication, true, {K::MaskedWallet}},
        {Moment::Configuration, true, {K::MaskedWallet}},
        {Moment::MaskedWallet, false, {K::MaskedWallet, K::MaskedWalletFailed}},
        {Moment::FullWalletOut, false, {K::MaskedWallet, K::FullWalletFailed}},
    };
    ASSERT_NO_FATAL_FAILURE(stream());
    listeningPage();
    for (const auto& row : rows) {
        SCOPED_TRACE("moment " + std::to_string(static_cast<int>(row.moment)));
        const std::string hold = "host " + std::to_string(&row - rows);
        hostDelegate_->events.clear();
        const size_t errors = walletErrors().size();
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        standIn_->setMode(row.moment == Moment::WalletApplication ? WalletStandInApp::Mode::Silent
                                                                  : WalletStandInApp::Mode::Normal);
        if (row.moment == Moment::Configuration) relaunchWithTheConfigurationHeld(hold);
        const size_t asked = standIn_->requests().size();
        hostChecksOut();
        if (row.moment == Moment::WalletApplication) {
            standIn_->setMode(WalletStandInApp::Mode::Silent);
            ASSERT_TRUE(waitForStandInRequests(asked + 1));
        }
        if (row.moment == Moment::MaskedWallet || row.moment == Moment::FullWalletOut) {
            ASSERT_TRUE(drive([&] { return hostKinds().size() == 1; }));
        }
        if (row.moment == Moment::FullWalletOut) {
            serveHeldCard(hold);
            const size_t cards = wallet_.requestCount(WalletTestServer::kFullWalletPath);
            client_->loadFullWallet(TWAFullWalletRequest::create(
                "T-1", TWACart::create("USD", "1.00", {}), std::nullopt));
            ASSERT_TRUE(waitFor(
                [&] { return wallet_.requestCount(WalletTestServer::kFullWalletPath) > cards; }));
        }
        const size_t standInBefore = standIn_->requests().size();
        start();
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        standIn_->setMode(WalletStandInApp::Mode::Normal);
        if (row.moment == Moment::WalletApplication) replyTo(asked);
        wallet_.http().release(hold);
        drive([&] {
            return hostKinds().size() >= row.host.size() &&
                   (row.refused || commandsNamed("tesseraWalletUpdate") > updates);
        });
        settle();
        auto pageErrors = walletErrors();
        pageErrors.erase(pageErrors.begin(), pageErrors.begin() + errors);
        EXPECT_EQ(pageErrors,
                  row.refused ? std::vector<json>{json::array({refused()})} : std::vector<json>{});
        EXPECT_EQ(hostKinds(), row.host);
        EXPECT_EQ(commandsNamed("tesseraWalletUpdate") - updates, row.refused ? 0u : 1u);
        EXPECT_EQ(commandsNamed("tesseraWalletFullWalletResponse"), 0u);
        for (size_t i = standInBefore; i < standIn_->requests().size(); ++i)
            EXPECT_EQ(standIn_->requests()[i].oauth_client_id(), row.refused ? kHostId : "page-id");
        ASSERT_NO_FATAL_FAILURE(nextCheckoutsStart(row.host.size()));
    }
}

// The host sets only its delegate (to none, then back, or to itself) while a page's
// payment runs, and checks out: the page hears one report, every value of the page goes
// at once, and the host's checkout goes out under the host's id and environment.
TEST_P(TesseraWalletOwnersTest, TheHostSettingOnlyItsDelegateGetsItsOwnValuesBack) {
    meetEveryMoment({Act::HostSetsOnlyItsDelegate, Act::HostSetsOnlyNoDelegate});
}

// Two pages, each a web view of its own registered for the wallet's errors: what
// concerns a payment reaches the page that started it only, and a step of a page whose
// payment another page took ends nothing of the other's.
class TesseraWalletPagesTest : public TesseraWalletOwnersTest {
  protected:
    struct Page {
        std::shared_ptr<MVWebView> view;
        std::shared_ptr<HeadlessPageModel> model;
        size_t seen = 0;
    };
    static constexpr const char* kOtherSecret = "other-secret";

    static Page openPage(const char* address) {
        Page page{MVWebView::create(platform::Rect(0, 0, 320, 480)), nullptr};
        page.model = HeadlessPageModel::attach(headlessEngineOf(*page.view));
        page.model->settings.library = true;
        page.view->loadHTMLString("<p/>", platform::URL::parse(address));
        platform::advanceBy(0.1);
        MVEventDispatcher::sharedDispatcher().registerWebView(page.view, {"tesseraWalletError"});
        return page;
    }
    static void performFrom(const Page& page, const json& command) {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", "1.0"}, {"cmds", json::array({command})}}, page.view);
    }
    static json startCommand(const char* id, const char* secret) {
        return {{"c", "tesseraWalletStart"},
                {"p",
                 {{"currencyCode", "EUR"},
                  {"totalPrice", "12.50"},
                  {"clientData", {{"clientId", id}, {"clientSecret", secret}}}}}};
    }
    static json endCommand(json end = {{"success", true}}) {
        return {{"c", "tesseraWalletEnd"}, {"p", std::move(end)}};
    }
    // The wallet errors `page` received since the last call.
    static std::vector<json> heard(Page& page) {
        platform::advanceBy(0.01);
        std::vector<json> errors;
        const auto& events = page.model->events();
        for (; page.seen < events.size(); ++page.seen)
            if (events[page.seen].name == "tesseraWalletError")
                errors.push_back(events[page.seen].parameters[0]);
        return errors;
    }
    static json clientError(int number, const char* occurrence) {
        const auto error = TWAWalletClient::clientError(number);
        return walletError(MVTesseraWallet::stringTesseraWalletErrorCode(error.code()).c_str(),
                           error.localizedDescription(), occurrence)[0];
    }
    // A page's checkout from its start to its end, answered by the wallet application.
    void checksOut(Page& page, const char* id, const char* secret) {
        standIn_->setMode(WalletStandInApp::Mode::Normal);
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        const size_t asked = standIn_->requests().size();
        performFrom(page, startCommand(id, secret));
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
        ASSERT_EQ(standIn_->requests().size(), asked + 1);
        EXPECT_EQ(standIn_->requests().back().oauth_client_id(), id);
        performFrom(page, endCommand());
        EXPECT_FALSE(lent());
        expectHostValues();
    }
};

// Page A's payment, at each moment, meets page B's start (another merchant); then A,
// already told, sends a step of its ended payment (or B one for another transaction),
// before or after B's masked wallet. B's checkout goes on to its card, A hears only its
// own report and refusals, B only its own, and then both next checkouts start.
TEST_P(TesseraWalletPagesTest, AStaleStepOfAnEndedPaymentEndsNothingOfTheNext) {
    enum class Step { FullWallet, Change, EndSuccess, EndDeclined, EndUnknown };
    const struct {
        Step step;
        bool fromB;  // B itself, for another transaction
        std::optional<json> aHears;
        std::optional<json> bHears;
    } steps[] = {
        {Step::FullWallet, false, credentialsChanged("fullWallet"), {}},
        {Step::Change, false, credentialsChanged("maskedWallet"), {}},
        {Step::EndSuccess, false, credentialsChanged("fullWallet"), {}},
        {Step::EndDeclined, false, credentialsChanged("fullWallet"), {}},
        {Step::EndUnknown, false, {}, {}},
        {Step::FullWallet, true, {}, clientError(606, "fullWallet")},
        {Step::Change, true, {}, clientError(610, "maskedWallet")},
    };
    const Moment moments[] = {Moment::PageStart, Moment::MaskedWallet, Moment::FullWalletOut};
    ASSERT_NO_FATAL_FAILURE(stream());
    auto a = openPage("https://shop.example/a");
    auto b = openPage("https://other.example/b");
    int cell = 0;
    for (auto moment : moments) {
        for (const auto& row : steps) {
            for (bool afterBsMaskedWallet : {false, true}) {
                SCOPED_TRACE("moment " + std::to_string(static_cast<int>(moment)) + ", step " +
                             std::to_string(&row - steps) +
                             (afterBsMaskedWallet ? ", late" : ", early"));
                const std::string hold = "pages " + std::to_string(++cell);
                serveHeldCard(hold);
                standIn_->setMode(WalletStandInApp::Mode::Normal);
                const size_t updates = commandsNamed("tesseraWalletUpdate");
                const size_t cards = commandsNamed("tesseraWalletFullWalletResponse");
                performFrom(a, startCommand("page-id", "page-secret"));
                if (moment != Moment::PageStart) {
                    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                    ASSERT_TRUE(
                        drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
                }
                if (moment == Moment::FullWalletOut) {
                    const size_t asked = wallet_.requestCount(WalletTestServer::kFullWalletPath);
                    performFrom(a, fullWalletRequest("5.00"));
                    ASSERT_TRUE(waitFor([&] {
                        return wallet_.requestCount(WalletTestServer::kFullWalletPath) > asked;
                    }));
                }
                const size_t aUpdates = commandsNamed("tesseraWalletUpdate") - updates;
                const size_t asked = standIn_->requests().size();
                performFrom(b, startCommand(kOtherId, kOtherSecret));
                platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                const auto stale = [&] {
                    const auto& sender = row.fromB ? b : a;
                    const char* transaction = row.fromB ? "T-2" : "T-1";
                    switch (row.step) {
                        case Step::FullWallet:
                            performFrom(sender, fullWalletRequest("5.00", transaction));
                            break;
                        case Step::Change:
                            performFrom(sender, {{"c", "tesseraWalletChangeMaskedWallet"},
                                                 {"p", {{"tesseraTransactionId", transaction}}}});
                            break;
                        case Step::EndSuccess:
                            performFrom(sender, endCommand());
                            break;
                        case Step::EndDeclined:
                            performFrom(sender, endCommand({{"success", false},
                                                            {"errorReason", "declined"}}));
                            break;
                        case Step::EndUnknown:
                            performFrom(sender,
                                        endCommand({{"success", false}, {"errorReason", "lost"}}));
                            break;
                    }
                };
                if (!afterBsMaskedWallet) stale();
                ASSERT_TRUE(drive(
                    [&] { return commandsNamed("tesseraWalletUpdate") > updates + aUpdates; }));
                if (afterBsMaskedWallet) stale();
                wallet_.http().release(hold);
                EXPECT_TRUE(lent());
                performFrom(b, fullWalletRequest("7.00"));
                ASSERT_TRUE(drive(
                    [&] { return commandsNamed("tesseraWalletFullWalletResponse") > cards; }));
                performFrom(b, endCommand());
                settle();
                std::vector<json> aExpected{credentialsChanged(
                    moment == Moment::FullWalletOut ? "fullWallet" : "maskedWallet")};
                if (row.aHears) aExpected.push_back(*row.aHears);
                EXPECT_EQ(heard(a), aExpected);
                EXPECT_EQ(heard(b),
                          row.bHears ? std::vector<json>{*row.bHears} : std::vector<json>{});
                EXPECT_EQ(commandsNamed("tesseraWalletUpdate") - updates, aUpdates + 1);
                EXPECT_EQ(commandsNamed("tesseraWalletFullWalletResponse") - cards, 1u);
                ASSERT_EQ(standIn_->requests().size(), asked + 1);
                EXPECT_EQ(standIn_->requests().back().oauth_client_id(), kOtherId);
                EXPECT_TRUE(hostDelegate_->events.empty());
                EXPECT_FALSE(lent());
                expectHostValues();
            }
        }
        // Each cell begins with both pages' next checkouts; after the last, both again.
        ASSERT_NO_FATAL_FAILURE(checksOut(a, "page-id", "page-secret"));
        ASSERT_NO_FATAL_FAILURE(checksOut(b, kOtherId, kOtherSecret));
        EXPECT_TRUE(heard(a).empty());
        EXPECT_TRUE(heard(b).empty());
    }
}

// Each kind of report, while another page listens: the refused start, the end by
// another page or by the host, the wallet's failures of either request, a step with no
// payment running, and a page gone before its failure. Only the page concerned hears
// it, once; then the other page's checkout starts.
TEST_P(TesseraWalletPagesTest, AReportReachesOnlyThePageItConcerns) {
    enum class Kind {
        RefusedStart,
        EndedByAnotherPage,
        EndedByTheHost,
        BuyerCancelled,
        FullWalletFailed,
        StepWithoutPayment,
        PageGone
    };
    const json cancelled =
        walletError("TesseraWalletErrorBuyerCancelled", "Buyer has cancelled", "maskedWallet")[0];
    const struct {
        Kind kind;
        std::vector<json> aHears;
        std::vector<json> bHears;
    } rows[] = {
        {Kind::RefusedStart, {}, {refused()}},
        {Kind::EndedByAnotherPage, {credentialsChanged("maskedWallet")}, {}},
        {Kind::EndedByTheHost, {credentialsChanged("maskedWallet")}, {}},
        {Kind::BuyerCancelled, {cancelled}, {}},
        {Kind::FullWalletFailed, {clientError(608, "fullWallet")}, {}},
        {Kind::StepWithoutPayment, {}, {credentialsChanged("fullWallet")}},
        {Kind::PageGone, {}, {}},
    };
    ASSERT_NO_FATAL_FAILURE(stream());
    auto b = openPage("https://other.example/b");
    for (const auto& row : rows) {
        SCOPED_TRACE("kind " + std::to_string(static_cast<int>(row.kind)));
        auto a = openPage("https://shop.example/a");
        hostDelegate_->events.clear();
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        const bool atWalletApplication = row.kind == Kind::RefusedStart ||
                                         row.kind == Kind::BuyerCancelled ||
                                         row.kind == Kind::PageGone;
        standIn_->setMode(atWalletApplication ? WalletStandInApp::Mode::Silent
                                              : WalletStandInApp::Mode::Normal);
        const size_t asked = standIn_->requests().size();
        if (row.kind != Kind::StepWithoutPayment) {
            performFrom(a, startCommand("page-id", "page-secret"));
            platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
            if (atWalletApplication)
                ASSERT_TRUE(waitForStandInRequests(asked + 1));
            else
                ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
        }
        switch (row.kind) {
            case Kind::RefusedStart:
                performFrom(b, startCommand(kOtherId, kOtherSecret));
                platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                // A's checkout goes on: the buyer's choice reaches the server.
                replyTo(asked);
                ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
                performFrom(a, endCommand());
                break;
            case Kind::EndedByAnotherPage:
                performFrom(b, startCommand(kOtherId, kOtherSecret));
                performFrom(b, endCommand());
                break;
            case Kind::EndedByTheHost:
                client_->endTransaction();
                break;
            case Kind::BuyerCancelled:
                platform::Application::shared().becomeActive();
                break;
            case Kind::FullWalletFailed:
                wallet_.respond(WalletTestServer::kFullWalletPath, 401,
                                walletproto::OWRErrorMessage());
                performFrom(a, fullWalletRequest("5.00"));
                ASSERT_TRUE(drive([&] { return !lent(); }));
                break;
            case Kind::StepWithoutPayment:
                performFrom(b, endCommand());
                break;
            case Kind::PageGone:
                a.view.reset();
                platform::Application::shared().becomeActive();
                break;
        }
        settle();
        EXPECT_FALSE(lent());
        expectHostValues();
        if (a.view) {
            EXPECT_EQ(heard(a), row.aHears);
        }
        EXPECT_EQ(heard(b), row.bHears);
        EXPECT_TRUE(hostDelegate_->events.empty());
        ASSERT_NO_FATAL_FAILURE(checksOut(b, kOtherId, kOtherSecret));
        if (a.view) {
            EXPECT_TRUE(heard(a).empty());
        }
        EXPECT_TRUE(heard(b).empty());
    }
}

// The buyer comes back from the wallet application without a reply, which cancels the
// request of the host or of a page; a newer request follows (the host's, the same
// page's, another page's), and then the cancelled request's late reply comes, an error
// or a masked wallet. It answers nothing: the newer request waits for its own reply.
TEST_P(TesseraWalletPagesTest, ACancelledRequestsLateReplyAnswersNothingNewer) {
    using K = WalletClientEvent::Kind;
    enum class Party { Host, A, B };
    const Party cancelledParties[] = {Party::Host, Party::A};
    const Party newerParties[] = {Party::Host, Party::A, Party::B};
    ASSERT_NO_FATAL_FAILURE(stream());
    auto a = openPage("https://shop.example/a");
    auto b = openPage("https://other.example/b");
    const auto ask = [&](Party party) {
        const size_t asked = standIn_->requests().size();
        if (party == Party::Host) {
            client_->loadMaskedWallet(TWAMaskedWalletRequest::create("USD", "1.00"));
        } else {
            performFrom(party == Party::A ? a : b, party == Party::A
                                                       ? startCommand("page-id", "page-secret")
                                                       : startCommand(kOtherId, kOtherSecret));
            platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        }
        return waitForStandInRequests(asked + 1);
    };
    for (auto cancelled : cancelledParties) {
        for (auto newer : newerParties) {
            for (bool lateError : {true, false}) {
                SCOPED_TRACE("cancelled " + std::to_string(static_cast<int>(cancelled)) +
                             ", newer " + std::to_string(static_cast<int>(newer)) +
                             (lateError ? ", error" : ", masked wallet"));
                hostDelegate_->events.clear();
                standIn_->setMode(WalletStandInApp::Mode::Silent);
                const size_t first = standIn_->requests().size();
                ASSERT_TRUE(ask(cancelled));
                platform::Application::shared().becomeActive();
                settle();
                if (cancelled == Party::Host) {
                    EXPECT_EQ(hostKinds(), std::vector<K>{K::MaskedWalletFailed});
                } else {
                    EXPECT_EQ(heard(a).size(), 1u);
                    EXPECT_FALSE(lent());
                }
                hostDelegate_->events.clear();
                ASSERT_TRUE(ask(newer));
                const size_t updates = commandsNamed("tesseraWalletUpdate");
                const std::string late =
                    lateError ? standIn_->requests().at(first).callback_url() + "?e=12&ed=late"
                              : standInReply(first);
                TWAWalletClient::handleOpenURL(*platform::URL::parse(late),
                                               WalletStandInApp::kBundleId, nullptr);
                settle();
                if (lent())
                    expectHostReadsItsOwn();
                else
                    EXPECT_TRUE(client_->transactionContext()->openURLInProgress());
                EXPECT_TRUE(hostDelegate_->events.empty());
                EXPECT_TRUE(heard(a).empty());
                EXPECT_TRUE(heard(b).empty());
                EXPECT_EQ(lent(), newer != Party::Host);
                // Its own reply answers the newer request.
                EXPECT_TRUE(
                    TWAWalletClient::handleOpenURL(*platform::URL::parse(standInReply(first + 1)),
                                                   WalletStandInApp::kBundleId, nullptr));
                platform::Application::shared().becomeActive();
                if (newer == Party::Host) {
                    EXPECT_EQ(hostKinds(), std::vector<K>{K::MaskedWallet});
                    client_->notifyTransactionStatus(0);
                } else {
                    ASSERT_TRUE(
                        drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
                    performFrom(newer == Party::A ? a : b, endCommand());
                }
                settle();
                EXPECT_TRUE(heard(a).empty());
                EXPECT_TRUE(heard(b).empty());
                EXPECT_FALSE(lent());
                expectHostValues();
            }
        }
    }
}

// A page's payment whose web view is released or goes on to another document: the
// payment ends at once and gives the client back whole, nothing of it answers anybody,
// and what comes next goes out under its own party's values: the host's plain checkout
// (no value set again), the host's take-over, another page's start, the host's checkout
// on a configuration a day old. With the page alive, the host's own checkout ends the
// page's payment first, and the page hears it once.
class TesseraWalletPageGoneTest : public TesseraWalletPagesTest {
  protected:
    enum class When { BeforeLoad, BuyerInWallet, ReplyAfterGone, MaskedWallet, CardAtServer };
    enum class Gone { Released, Navigated, Alive };
    enum class Next { HostChecksOut, HostTakesOver, AnotherPageStarts, DailyRefresh };

    // Page `a` starts its payment and reaches `when`.
    void reachFrom(Page& a, When when, const std::string& hold) {
        const bool buyerInWallet = when == When::BuyerInWallet || when == When::ReplyAfterGone;
        standIn_->setMode(buyerInWallet ? WalletStandInApp::Mode::Silent
                                        : WalletStandInApp::Mode::Normal);
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        const size_t asked = standIn_->requests().size();
        performFrom(a, startCommand("page-id", "page-secret"));
        ASSERT_TRUE(lent());
        if (when == When::BeforeLoad) return;
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        if (buyerInWallet) {
            ASSERT_TRUE(waitForStandInRequests(asked + 1));
            return;
        }
        ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
        if (when == When::MaskedWallet) return;
        serveHeldCard(hold);
        const size_t cards = wallet_.requestCount(WalletTestServer::kFullWalletPath);
        performFrom(a, fullWalletRequest("5.00"));
        ASSERT_TRUE(waitFor(
            [&] { return wallet_.requestCount(WalletTestServer::kFullWalletPath) > cards; }));
    }
    static void leave(Page& a, Gone gone) {
        if (gone == Gone::Released) a.view.reset();
        if (gone != Gone::Navigated) return;
        a.view->loadHTMLString("<p>elsewhere</p>",
                               platform::URL::parse("https://elsewhere.example/"));
        platform::advanceBy(0.1);
        // The next document listens too: it must hear nothing of the payment before it.
        MVEventDispatcher::sharedDispatcher().registerWebView(a.view, {"tesseraWalletError"});
    }
    std::string configurationPath() const {
        return WalletTestServer::configurationPath(
            TWAClientConfig::configSuffixForEnvironment(hostEnvironment_));
    }
};

TEST_P(TesseraWalletPageGoneTest, APaymentEndsWithItsPageAndTheNextGoesOutUnderItsOwnValues) {
    using K = WalletClientEvent::Kind;
    const When whens[] = {When::BeforeLoad, When::BuyerInWallet, When::ReplyAfterGone,
                          When::MaskedWallet, When::CardAtServer};
    const struct {
        Gone gone;
        Next next;
    } rows[] = {
        {Gone::Released, Next::HostChecksOut},      {Gone::Released, Next::HostTakesOver},
        {Gone::Released, Next::AnotherPageStarts},  {Gone::Released, Next::DailyRefresh},
        {Gone::Navigated, Next::HostChecksOut},     {Gone::Navigated, Next::HostTakesOver},
        {Gone::Navigated, Next::AnotherPageStarts}, {Gone::Navigated, Next::DailyRefresh},
        {Gone::Alive, Next::HostChecksOut},         {Gone::Alive, Next::DailyRefresh},
    };
    ASSERT_NO_FATAL_FAILURE(stream());
    auto b = openPage("https://other.example/b");
    int cell = 0;
    for (auto when : whens) {
        for (const auto& row : rows) {
            SCOPED_TRACE("when " + std::to_string(static_cast<int>(when)) + ", row " +
                         std::to_string(&row - rows));
            const std::string hold = "gone " + std::to_string(++cell);
            auto a = openPage("https://shop.example/a");
            hostDelegate_->events.clear();
            ASSERT_NO_FATAL_FAILURE(reachFrom(a, when, hold));
            const size_t firstRequest = standIn_->requests().size() - 1;
            const size_t updates = commandsNamed("tesseraWalletUpdate");
            const size_t cards = commandsNamed("tesseraWalletFullWalletResponse");
            leave(a, row.gone);
            if (row.gone != Gone::Alive) {
                // Given back whole at once.
                EXPECT_FALSE(lent());
                expectHostValues();
            }
            standIn_->setMode(WalletStandInApp::Mode::Normal);
            if (when == When::ReplyAfterGone) {
                // The library routes nothing more; the host's own routing reaches nobody.
                const std::string reply = standInReply(firstRequest);
                EXPECT_EQ(libraryOpensURL(reply), row.gone == Gone::Alive);
                if (row.gone != Gone::Alive)
                    TWAWalletClient::handleOpenURL(*platform::URL::parse(reply),
                                                   WalletStandInApp::kBundleId, nullptr);
                platform::Application::shared().becomeActive();
                settle();
            }
            const size_t pagesUpdates = commandsNamed("tesseraWalletUpdate") - updates;
            EXPECT_EQ(pagesUpdates, row.gone == Gone::Alive && when == When::ReplyAfterGone);
            const size_t asked = standIn_->requests().size();
            size_t configurations = wallet_.requestCount(configurationPath());
            const bool hostsRequest = row.next != Next::AnotherPageStarts;
            switch (row.next) {
                case Next::HostChecksOut:
                    hostChecksOut();
                    break;
                case Next::HostTakesOver:
                    hostTakesOver();
                    hostChecksOut();
                    break;
                case Next::AnotherPageStarts:
                    performFrom(b, startCommand(kOtherId, kOtherSecret));
                    platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
                    break;
                case Next::DailyRefresh:
                    // A day after the configuration came.
                    ASSERT_TRUE(drive([&] { return !client_->clientConfig()->fetchInProgress(); }));
                    configurations = wallet_.requestCount(configurationPath());
                    client_->clientConfig()->setLastUpdateDateForTesting(
                        platform::Date::now().addingTimeInterval(-2 *
                                                                 TWAClientConfig::kCacheLifetime));
                    hostChecksOut();
                    break;
            }
            if (hostsRequest) {
                EXPECT_EQ(client_->transactionContext()->environment(), hostEnvironment_);
                expectHostValues();
            }
            wallet_.http().release(hold);
            ASSERT_TRUE(drive([&] {
                return hostsRequest ? hostKinds().size() >= 1
                                    : commandsNamed("tesseraWalletUpdate") > updates + pagesUpdates;
            }));
            settle();
            // The next party's request went out under its own name, once.
            ASSERT_EQ(standIn_->requests().size(), asked + 1);
            EXPECT_EQ(standIn_->requests().back().oauth_client_id(),
                      hostsRequest ? kHostId : kOtherId);
            if (row.next == Next::DailyRefresh) {
                EXPECT_GT(wallet_.requestCount(configurationPath()), configurations);
            }
            // Each party hears its own answers only, once.
            EXPECT_EQ(hostKinds(),
                      hostsRequest ? std::vector<K>{K::MaskedWallet} : std::vector<K>{});
            EXPECT_EQ(commandsNamed("tesseraWalletUpdate") - updates - pagesUpdates,
                      hostsRequest ? 0u : 1u);
            EXPECT_EQ(commandsNamed("tesseraWalletFullWalletResponse"), cards);
            EXPECT_TRUE(heard(b).empty());
            if (a.view) {
                std::vector<json> aHears;
                if (row.gone == Gone::Alive)
                    aHears.push_back(credentialsChanged(
                        when == When::CardAtServer ? "fullWallet" : "maskedWallet"));
                EXPECT_EQ(heard(a), aHears);
            }
            // Every next checkout starts.
            if (hostsRequest) {
                client_->notifyTransactionStatus(0);
            } else {
                performFrom(b, endCommand());
            }
            EXPECT_FALSE(lent());
            expectHostValues();
            ASSERT_NO_FATAL_FAILURE(checksOut(b, kOtherId, kOtherSecret));
            if (a.view) {
                ASSERT_NO_FATAL_FAILURE(checksOut(a, "page-id", "page-secret"));
                EXPECT_TRUE(heard(a).empty());
            }
            const size_t hostEvents = hostKinds().size();
            hostChecksOut();
            ASSERT_TRUE(drive([&] { return hostKinds().size() > hostEvents; }));
            EXPECT_EQ(hostKinds().back(), K::MaskedWallet);
            client_->notifyTransactionStatus(0);
            EXPECT_TRUE(heard(b).empty());
        }
    }
}

// A page gone before the delayed request or while the configuration downloads: the
// buyer is not sent to the wallet application, and the next checkouts start.
TEST_P(TesseraWalletPageGoneTest, ARequestWhosePageIsGoneIsNotSent) {
    enum class Moment { BeforeLoad, ConfigurationDownloads };
    const struct {
        Moment moment;
        Gone gone;
    } rows[] = {
        {Moment::BeforeLoad, Gone::Released},
        {Moment::BeforeLoad, Gone::Navigated},
        {Moment::BeforeLoad, Gone::Alive},
        {Moment::ConfigurationDownloads, Gone::Released},
        {Moment::ConfigurationDownloads, Gone::Navigated},
        {Moment::ConfigurationDownloads, Gone::Alive},
    };
    ASSERT_NO_FATAL_FAILURE(stream());
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(&row - rows));
        const std::string hold = "configuration " + std::to_string(&row - rows);
        if (row.moment == Moment::ConfigurationDownloads) relaunchWithTheConfigurationHeld(hold);
        auto a = openPage("https://shop.example/a");
        hostDelegate_->events.clear();
        standIn_->setMode(WalletStandInApp::Mode::Normal);
        const size_t asked = standIn_->requests().size();
        const size_t updates = commandsNamed("tesseraWalletUpdate");
        performFrom(a, startCommand("page-id", "page-secret"));
        if (row.moment == Moment::ConfigurationDownloads) {
            platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
            ASSERT_TRUE(lent());
            ASSERT_EQ(standIn_->requests().size(), asked);
        }
        leave(a, row.gone);
        platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
        wallet_.http().release(hold);
        const bool alive = row.gone == Gone::Alive;
        if (alive) {
            ASSERT_TRUE(drive([&] { return commandsNamed("tesseraWalletUpdate") > updates; }));
            performFrom(a, endCommand());
        }
        settle();
        EXPECT_EQ(standIn_->requests().size(), asked + alive);
        EXPECT_EQ(commandsNamed("tesseraWalletUpdate"), updates + alive);
        EXPECT_FALSE(lent());
        expectHostValues();
        EXPECT_TRUE(hostDelegate_->events.empty());
        if (a.view) {
            EXPECT_TRUE(heard(a).empty());
        }
        auto next = openPage("https://shop.example/next");
        ASSERT_NO_FATAL_FAILURE(checksOut(next, "page-id", "page-secret"));
        const size_t hostEvents = hostKinds().size();
        hostChecksOut();
        ASSERT_TRUE(drive([&] { return hostKinds().size() > hostEvents; }));
        EXPECT_EQ(hostKinds().back(), WalletClientEvent::MaskedWallet);
        client_->notifyTransactionStatus(0);
    }
}

// What the checkout page does while its payment runs, at each moment: a link or a form
// whose fetch fails, a link redirected to a command or an API page, a load cancelled,
// all of which keep the page, and the payment goes on to its card and end; a reload (the
// shell's, or the page's link to its own address, which the engine loads itself) and a
// link to another page replace the page's document, and the payment ends then, given
// back whole, with nothing of it answering anybody.
class TesseraWalletPageActsTest : public TesseraWalletPageGoneTest {
  protected:
    enum class Act {
        FailedLink,
        FailedForm,
        RedirectToCommand,
        RedirectToApiPage,
        CancelledLoad,
        Reload,
        LinkToItsOwnAddress,
        LinkElsewhere
    };
    static bool replaces(Act act) { return act >= Act::Reload; }

    void SetUp() override {
        TesseraWalletPageGoneTest::SetUp();
        HttpTestServer::Response closed;
        closed.closeWithoutResponse = true;
        shop_.respond("/gone", closed);
        shop_.respond("/order", closed);
        shop_.respond("/to-command",
                      HttpTestServer::Response::redirect(
                          302, "mvcmd:%7B%22ver%22%3A%221.0%22%2C%22cmds%22%3A%5B%5D%7D"));
        shop_.respond("/to-api", HttpTestServer::Response::redirect(302, "mvapi:thanks"));
        HttpTestServer::Response never;
        never.noResponse = true;
        shop_.respond("/slow", never);
        for (const char* path : {"/checkout", "/thanks"})
            shop_.respond(path, HttpTestServer::Response::text(200, "<p>page</p>", "text/html"));
    }
    // The checkout page, shown and ready, from the shop's server.
    Page checkoutPage() {
        auto page = openPage(shop_.url("/checkout").c_str());
        auto& view = *page.view;
        EXPECT_TRUE(drive([&] {
            if (view.isUsingLibrary() && view.isLoading()) view.onload();
            return view.isUsingLibrary() && !view.isLoading();
        }));
        return page;
    }
    // The page acts and the act ends: the page kept, or another document in its place.
    // What the web view logs of the act: the road it took.
    static const char* roadOf(Act act) {
        switch (act) {
            case Act::FailedLink:
            case Act::FailedForm:
                return "did fail loading";
            case Act::RedirectToCommand:
                return "was redirected to command scheme";
            case Act::RedirectToApiPage:
                return "switching protocol to API";
            case Act::CancelledLoad:
                return "did cancel loading";
            default:
                return "MVTesseraWallet ends the payment: another document replaced its page";
        }
    }
    void act(Page& page, Act act) {
        auto& engine = headlessEngineOf(*page.view);
        const size_t asked = shop_.requestCount();
        const size_t roads = loggedCount(roadOf(act));
        switch (act) {
            case Act::FailedLink:
                engine.navigate(shop_.url("/gone"));
                break;
            case Act::FailedForm: {
                platform::URLRequest form(*platform::URL::parse(shop_.url("/order")));
                form.setHTTPMethod("POST");
                form.setHTTPBody("item=1&quantity=2");
                form.setValue("application/x-www-form-urlencoded", "Content-Type");
                engine.navigate(form, platform::NavigationType::FormSubmitted);
                break;
            }
            case Act::RedirectToCommand:
                engine.navigate(shop_.url("/to-command"));
                break;
            case Act::RedirectToApiPage:
                engine.navigate(shop_.url("/to-api"));
                break;
            case Act::CancelledLoad:
                engine.navigate(shop_.url("/slow"));
                ASSERT_TRUE(waitFor([&] { return shop_.requestCount() > asked; }));
                page.view->cancelCurrentRequest();
                break;
            case Act::Reload:
                page.view->reloadWithClearingChache(false);
                break;
            case Act::LinkToItsOwnAddress:
                engine.navigate(shop_.url("/checkout"));
                break;
            case Act::LinkElsewhere:
                engine.navigate(shop_.url("/thanks"));
                break;
        }
        if (act != Act::Reload && act != Act::CancelledLoad) {
            ASSERT_TRUE(waitFor([&] { return shop_.requestCount() > asked; }));
        }
        // A document the engine loads itself is no load of the web view's.
        EXPECT_TRUE(drive([&] {
            return replaces(act) ? !lent() || !engine.isLoading() : !page.view->isLoading();
        }));
        settle();
        EXPECT_EQ(loggedCount(roadOf(act)), roads + 1);
        // The page listens again (a new document too: it must hear nothing of the payment).
        MVEventDispatcher::sharedDispatcher().registerWebView(page.view, {"tesseraWalletError"});
    }

    HttpTestServer shop_;
};

TEST_P(TesseraWalletPageActsTest, APaymentEndsOnlyWhenAnotherDocumentReplacesItsPage) {
    const When whens[] = {When::BeforeLoad, When::BuyerInWallet, When::MaskedWallet,
                          When::CardAtServer};
    const Act acts[] = {Act::FailedLink,          Act::FailedForm,    Act::RedirectToCommand,
                        Act::RedirectToApiPage,   Act::CancelledLoad, Act::Reload,
                        Act::LinkToItsOwnAddress, Act::LinkElsewhere};
    ASSERT_NO_FATAL_FAILURE(stream());
    wallet_.serveProxyCard("411111", 1234567, 3, 2030);
    int cell = 0;
    for (auto when : whens) {
        for (auto act : acts) {
            SCOPED_TRACE("when " + std::to_string(static_cast<int>(when)) + ", act " +
                         std::to_string(static_cast<int>(act)));
            const std::string hold = "act " + std::to_string(++cell);
            auto a = checkoutPage();
            hostDelegate_->events.clear();
            ASSERT_NO_FATAL_FAILURE(reachFrom(a, when, hold));
            const size_t firstRequest = standIn_->requests().size() - 1;
            const size_t updates = commandsNamed("tesseraWalletUpdate");
            const size_t cards = commandsNamed("tesseraWalletFullWalletResponse");
            ASSERT_NO_FATAL_FAILURE(this->act(a, act));
            const bool kept = !replaces(act);
            EXPECT_EQ(lent(), kept);
            if (!kept) expectHostValues();
            // What was under way answers the page that stays, and nobody else.
            standIn_->setMode(WalletStandInApp::Mode::Normal);
            if (when == When::BeforeLoad)
                platform::advanceBy(MVTesseraWallet::kLoadMaskedWalletDelay);
            if (when == When::BuyerInWallet) {
                const std::string reply = standInReply(firstRequest);
                EXPECT_EQ(libraryOpensURL(reply), kept);
                if (!kept)
                    TWAWalletClient::handleOpenURL(*platform::URL::parse(reply),
                                                   WalletStandInApp::kBundleId, nullptr);
                platform::Application::shared().becomeActive();
            }
            wallet_.http().release(hold);
            const bool maskedWalletComes = when == When::BeforeLoad || when == When::BuyerInWallet;
            // The checkout goes on to its card and its end (a payment ended meanwhile waits
            // for nothing: the counts below tell).
            if (kept && maskedWalletComes)
                drive([&] { return commandsNamed("tesseraWalletUpdate") > updates || !lent(); });
            if (kept && when != When::CardAtServer && lent())
                performFrom(a, fullWalletRequest("5.00"));
            if (kept && lent()) {
                drive([&] {
                    return commandsNamed("tesseraWalletFullWalletResponse") > cards || !lent();
                });
                EXPECT_TRUE(lent());
                performFrom(a, endCommand());
            }
            settle();
            EXPECT_EQ(commandsNamed("tesseraWalletUpdate") - updates, kept && maskedWalletComes);
            EXPECT_EQ(commandsNamed("tesseraWalletFullWalletResponse") - cards, kept ? 1u : 0u);
            EXPECT_EQ(standIn_->requests().size(),
                      firstRequest + 1 + (when == When::BeforeLoad && kept));
            EXPECT_TRUE(heard(a).empty());
            EXPECT_TRUE(hostKinds().empty());
            EXPECT_FALSE(lent());
            expectHostValues();
            // The next checkouts start.
            ASSERT_NO_FATAL_FAILURE(checksOut(a, "page-id", "page-secret"));
            EXPECT_TRUE(heard(a).empty());
            hostChecksOut();
            ASSERT_TRUE(drive([&] { return hostKinds().size() == 1; }));
            EXPECT_EQ(hostKinds().back(), WalletClientEvent::MaskedWallet);
            client_->notifyTransactionStatus(0);
        }
    }
}

// The buyer comes back from the wallet application without a reply while the page's
// link is being fetched (the page then listens to nothing): the page hears the
// cancellation once its load ends with it kept (failed, redirected to a command, a newer
// load of the host's in its place that fails, or a server trickling a byte every 50 s
// until the whole load's bound), and a document that replaced it hears nothing.
TEST_P(TesseraWalletPageActsTest, AFailureDuringAKeptLoadReachesThePageAfterIt) {
    // The bound of a whole document load, in platform-clock seconds.
    constexpr double kLoadBound = 300;
    const struct {
        const char* path;
        const char* hostOpens;  // the host's load in place of the link's, or none
        bool kept;
    } rows[] = {
        {"/held-gone", nullptr, true},    {"/held-to-command", nullptr, true},
        {"/held-thanks", nullptr, false}, {"/held-slow", "/failing", true},
        {"/held-slow", "/other", false},  {"/trickle", nullptr, true},
    };
    HttpTestServer::Response trickle;
    trickle.headers.set("Content-Type", "text/html");
    trickle.chunked = true;
    trickle.chunks.assign(100, "x");
    trickle.chunkInterval = 50;
    shop_.respond("/trickle", trickle);
    auto gone = HttpTestServer::Response::text(200, std::string(4096, 'x'), "text/html");
    gone.dropAfterBodyBytes = 16;
    shop_.respond("/failing", gone);
    gone.holdUntilReleased = "gone";
    shop_.respond("/held-gone", gone);
    auto toCommand = HttpTestServer::Response::redirect(
        302, "mvcmd:%7B%22ver%22%3A%221.0%22%2C%22cmds%22%3A%5B%5D%7D");
    toCommand.holdUntilReleased = "to-command";
    shop_.respond("/held-to-command", toCommand);
    auto thanks = HttpTestServer::Response::text(200, "<p>thanks</p>", "text/html");
    shop_.respond("/other", thanks);
    thanks.holdUntilReleased = "thanks";
    shop_.respond("/held-thanks", thanks);
    thanks.holdUntilReleased = "slow";
    shop_.respond("/held-slow", thanks);
    ASSERT_NO_FATAL_FAILURE(stream());
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.path) + " " + (row.hostOpens ? row.hostOpens : ""));
        auto a = checkoutPage();
        ASSERT_NO_FATAL_FAILURE(reachFrom(a, When::BuyerInWallet, "unused"));
        const size_t asked = shop_.requestCount();
        headlessEngineOf(*a.view).navigate(shop_.url(row.path));
        ASSERT_TRUE(waitFor([&] { return a.view->isLoading(); }));
        platform::Application::shared().becomeActive();
        platform::runUntilIdle();
        EXPECT_FALSE(lent());
        EXPECT_TRUE(heard(a).empty());  // not while it loads
        std::string shown = shop_.url(row.path);
        if (row.hostOpens) {
            ASSERT_TRUE(waitFor([&] { return shop_.requestCount() > asked; }));
            shown = shop_.url(row.hostOpens);
            a.view->openUrl(shown, false);
        } else if (std::strcmp(row.path, "/trickle") == 0) {
            // Bytes keep coming: the load goes on until its bound, and fails there.
            double waited = 0;
            for (; a.view->isLoading() && waited < 2 * kLoadBound; waited += 5) {
                platform::runUntil([] { return false; }, 0.01);
                platform::advanceBy(5);
            }
            EXPECT_GE(waited, kLoadBound - 50);
            EXPECT_LE(waited, kLoadBound + 10);
            EXPECT_GE(shop_.requestCount("/trickle"), 1u);
            EXPECT_TRUE(logged("did not come whole within 300 s"));
        } else {
            shop_.release(std::string(row.path).substr(std::strlen("/held-")));
        }
        // Kept, or another document in its place.
        ASSERT_TRUE(drive([&] {
            const auto& base = a.view->loadedBaseURL();
            return row.kept ? !a.view->isLoading() : base && base->absoluteString() == shown;
        }));
        settle();
        if (row.hostOpens) shop_.release("slow");
        MVEventDispatcher::sharedDispatcher().registerWebView(a.view, {"tesseraWalletError"});
        EXPECT_EQ(heard(a), row.kept ? std::vector<json>{walletError(
                                           "TesseraWalletErrorBuyerCancelled",
                                           "Buyer has cancelled", "maskedWallet")[0]}
                                     : std::vector<json>{});
        expectHostValues();
        ASSERT_NO_FATAL_FAILURE(checksOut(a, "page-id", "page-secret"));
        EXPECT_TRUE(heard(a).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(HostEnvironments, TesseraWalletPageActsTest, ::testing::Values(1, 2),
                         [](const auto& info) {
                             return "Environment" + std::to_string(info.param);
                         });

INSTANTIATE_TEST_SUITE_P(HostEnvironments, TesseraWalletPageGoneTest, ::testing::Values(1, 2),
                         [](const auto& info) {
                             return "Environment" + std::to_string(info.param);
                         });

INSTANTIATE_TEST_SUITE_P(HostEnvironments, TesseraWalletOwnersTest, ::testing::Values(1, 2),
                         [](const auto& info) {
                             return "Environment" + std::to_string(info.param);
                         });

INSTANTIATE_TEST_SUITE_P(HostEnvironments, TesseraWalletPagesTest, ::testing::Values(1, 2),
                         [](const auto& info) {
                             return "Environment" + std::to_string(info.param);
                         });

INSTANTIATE_TEST_SUITE_P(HostEnvironments, TesseraWalletPaymentEndTest, ::testing::Values(1, 2),
                         [](const auto& info) {
                             return "Environment" + std::to_string(info.param);
                         });

}  // namespace
