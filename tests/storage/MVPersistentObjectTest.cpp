#include <SQLiteCpp/SQLiteCpp.h>

#include <cmath>
#include <filesystem>
#include <future>
#include <limits>
#include <nlohmann/json.hpp>

#include "libmerovane/storage/MVDiscWritingContext.h"
#include "libmerovane/storage/MVPersistentObject.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "platform/foundation/Exception.h"
#include "tests/storage/StorageTestData.h"
#include "tests/support/StorageFixture.h"

namespace {

using Res = MVWebCacheResourceObject;
using Var = MVWebStorageVariable;
using Op = MVPredicate::Op;

template <class P>
std::vector<std::string> ids(const std::vector<P>& objects) {
    std::vector<std::string> out;
    for (auto& o : objects) out.push_back(o->id().value_or("<none>"));
    return out;
}

class PersistentObjectTest : public StorageTest {
  protected:
    Res::Ptr resource(const std::string& id, std::optional<int64_t> serial, const char* mime,
                      bool shadowed) {
        auto r = Res::dbObjectCreate();
        r->setId(id);
        r->setLocalSerial(serial);
        if (mime) r->setMimeType(std::string(mime));
        r->setShadowed(shadowed);
        return r;
    }
    void makeRows() {
        resource("a", 3, "text/html", false);
        resource("b", std::nullopt, "image/png", true);
        resource("c", 1, nullptr, false);
        resource("d", 2, "text/html", true);
        resource("e", 5, "text/css", false);
    }
};

TEST_F(PersistentObjectTest, DbObjectsWithIDsAnswersInTheOrderOfTheIdentifiersAndSkipsUnknownOnes) {
    storage().lockedAccess([&] {
        for (auto id : {"a", "b", "c"}) Var::dbObjectCreate()->setId(std::string(id));
    });
    storage().lockedAccess([&] {
        EXPECT_EQ(ids(Var::dbObjectsWithIDs({"b", "a", "x"})),
                  (std::vector<std::string>{"b", "a"}));
        // The sorted variant answers in the fetch's own order.
        EXPECT_EQ(ids(Var::dbObjectsWithIDs({"b", "a", "x"}, {{"id", false}})),
                  (std::vector<std::string>{"b", "a"}));
        EXPECT_EQ(ids(Var::dbObjectsWithIDs({"c", "a"}, {{"id", true}})),
                  (std::vector<std::string>{"a", "c"}));
    });
}

TEST_F(PersistentObjectTest, TwoObjectsWithOneIdAnswerTheOneTheFetchListsLast) {
    storage().lockedAccess([&] {
        resource("dup", 1, nullptr, false);
        resource("dup", 2, nullptr, false);
        EXPECT_EQ(Res::dbObjectWithID("dup")->localSerial(), 2);  // unsaved: same order
    });
    storage().lockedAccess([&] {
        EXPECT_EQ(Res::dbObjectWithID("dup")->localSerial(), 2);
        EXPECT_EQ(Res::dbObjectsWith("id", "dup").size(), 2u);
        EXPECT_EQ(Res::dbObjectWithPredicate(MVPredicate::equal("id", "dup"))->localSerial(), 2);
        EXPECT_EQ(Res::dbObjectWithID("none"), nullptr);
    });
}

TEST_F(PersistentObjectTest, IdentifyReadsTextOnANumberKeyWithAutomaticBase) {
    storage().lockedAccess([&] {
        resource("hex", 16, nullptr, false);
        resource("oct", 8, nullptr, false);
        resource("dec", 10, nullptr, false);
    });
    storage().lockedAccess([&] {
        const struct {
            MVStoredValue value;
            const char* expected;
        } rows[] = {
            {"0x10", "hex"},       // hexadecimal
            {"010", "oct"},        // leading zero: octal
            {"10", "dec"},         // decimal
            {int64_t{16}, "hex"},  // a number is looked up as it is
            {"  0x10", "hex"},     // white space before the number is skipped, as strtoull does
        };
        for (auto& row : rows) {
            auto found = Res::_identifyWith("localSerial", row.value);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->id(), row.expected) << row.value.description();
        }
        // Not found: a new object, its key not set.
        auto made = Res::_identifyWith("localSerial", "0x11");
        EXPECT_EQ(made->localSerial(), std::nullopt);
        EXPECT_EQ(made->id(), std::nullopt);
        auto api = Res::identifyWithApiObject(nlohmann::json{{"id", "dec"}}, nullptr);
        EXPECT_EQ(api->localSerial(), 10);
    });
}

TEST_F(PersistentObjectTest, UnknownKeysAreProgrammingErrors) {
    storage().lockedAccess([&] {
        EXPECT_THROW(Res::dbObjectsWith("nope", 1), platform::Exception);
        EXPECT_THROW(Res::dbObjectsWithPredicate(MVPredicate(), {{"nope", true}}),
                     platform::Exception);
        EXPECT_THROW(Res::dbObjectCreate()->valueForKey("nope"), platform::Exception);
    });
}

// Every fetch must give the same answer from the store alone, with the changes still in
// the thread's context, and with the changes saved but not yet on disc.
struct FetchCase {
    const char* name;
    MVPredicate predicate;
    MVSortDescriptors sort;
    size_t offset, limit;
    std::vector<std::string> expected;
};

std::vector<FetchCase> fetchCases() {
    return {
        {"all in insertion order", MVPredicate(), {}, 0, 0, {"a", "b", "c", "d", "e"}},
        {"equal text", MVPredicate::equal("mimeType", "text/html"), {}, 0, 0, {"a", "d"}},
        {"equal none is null-safe", MVPredicate::equal("mimeType", nullptr), {}, 0, 0, {"c"}},
        {"not equal keeps none",
         MVPredicate::compare("mimeType", Op::NotEqual, "text/html"),
         {},
         0,
         0,
         {"b", "c", "e"}},
        {"less skips none", MVPredicate::compare("localSerial", Op::Less, 3), {}, 0, 0, {"c", "d"}},
        {"not less skips none too",
         MVPredicate::negate(MVPredicate::compare("localSerial", Op::Less, 3)),
         {},
         0,
         0,
         {"a", "e"}},
        {"number as text", MVPredicate::equal("localSerial", "5"), {}, 0, 0, {"e"}},
        {"boolean", MVPredicate::equal("shadowed", true), {}, 0, 0, {"b", "d"}},
        {"in", MVPredicate::in("id", {"e", "a", "zz"}), {}, 0, 0, {"a", "e"}},
        {"in with none",
         MVPredicate::negate(MVPredicate::in("localSerial", {1, nullptr})),
         {},
         0,
         0,
         {}},
        {"or",
         MVPredicate::any({MVPredicate::equal("id", "a"), MVPredicate::equal("shadowed", true)}),
         {},
         0,
         0,
         {"a", "b", "d"}},
        {"and",
         MVPredicate::all({MVPredicate::equal("shadowed", false),
                           MVPredicate::compare("localSerial", Op::Greater, 1)}),
         {},
         0,
         0,
         {"a", "e"}},
        {"sorted ascending, none first",
         MVPredicate(),
         {{"localSerial", true}},
         0,
         0,
         {"b", "c", "d", "a", "e"}},
        {"sorted descending, none last",
         MVPredicate(),
         {{"localSerial", false}},
         0,
         0,
         {"e", "a", "d", "c", "b"}},
        {"sorted on two keys",
         MVPredicate(),
         {{"shadowed", true}, {"id", false}},
         0,
         0,
         {"e", "c", "a", "d", "b"}},
        {"offset and limit", MVPredicate(), {{"id", false}}, 1, 2, {"d", "c"}},
        {"offset past the end", MVPredicate(), {}, 9, 0, {}},
        {"limit only", MVPredicate::equal("shadowed", false), {}, 0, 2, {"a", "c"}},
    };
}

TEST_F(PersistentObjectTest, FetchesAgreeWhereverTheRowsAre) {
    auto check = [&](const char* where) {
        for (auto& c : fetchCases())
            EXPECT_EQ(ids(Res::dbObjectsWithPredicate(c.predicate, c.sort, c.offset, c.limit)),
                      c.expected)
                << c.name << " (" << where << ")";
    };
    storage().lockedAccess([&] {
        makeRows();
        check("in the thread's context");
    });
    // Changes saved into the parent while the disc writer is held.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    storage().discWritingContext().performBlock([released] { released.wait(); });
    storage().lockedAccess([&] {
        Res::dbObjectWithID("a")->setMimeType(
            std::string("text/plain"));  // leaves and rejoins below
    });
    storage().lockedAccess(
        [&] { Res::dbObjectWithID("a")->setMimeType(std::string("text/html")); });
    storage().lockedAccess([&] { check("saved, not on disc"); });
    release.set_value();
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    reopen().lockedAccess([&] { check("in the store"); });
    storage().lockedAccess([&] {
        // A change in the context moves an object in or out of a fetch at once.
        Res::dbObjectWithID("c")->setMimeType(std::string("text/html"));
        Res::dbObjectWithID("a")->deleteFromStorage();
        EXPECT_EQ(ids(Res::dbObjectsWith("mimeType", "text/html")),
                  (std::vector<std::string>{"c", "d"}));
    });
}

TEST_F(PersistentObjectTest, AFetchAnswersTheSameObjectForOneRowWithinALockedAccess) {
    storage().lockedAccess([&] { resource("a", 1, nullptr, false); });
    storage().lockedAccess([&] {
        auto first = Res::dbObjectWithID("a");
        first->setLocalSerial(7);
        auto again = Res::dbObjectWith("localSerial", 7);
        EXPECT_EQ(first, again);
    });
}

TEST_F(PersistentObjectTest, ValuesKeepTheirTypesThroughTheStore) {
    const nlohmann::json info = {{"mime-type", "text/html"},
                                 {"http-header-fields", {{"a", "b"}}},
                                 {"raw", nlohmann::json::binary({0, 1, 2, 255})},
                                 {"n", 1.5}};
    storage().lockedAccess([&] {
        auto r = resource("a", int64_t{1} << 40, "text/html", true);
        r->setInfoDictionary(&info);
        r->setLastUpdate(platform::Date(1767225600.25));
        r->setMaximumLifetime(0.5);
        auto v = Var::dbObjectCreate();
        v->setId(std::string("s"));
        const nlohmann::json text = "just a string";
        v->setDataValue(&text);
    });
    reopen().lockedAccess([&] {
        auto r = Res::dbObjectWithID("a");
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(*r->infoDictionary(), info);
        EXPECT_EQ(r->lastUpdate(), platform::Date(1767225600.25));
        EXPECT_EQ(r->maximumLifetime(), 0.5);
        EXPECT_EQ(r->localSerial(), int64_t{1} << 40);
        EXPECT_TRUE(r->shadowed());
        EXPECT_EQ(*Var::dbObjectWithID("s")->dataValue(), "just a string");
        EXPECT_EQ(Var::dbObjectWithID("s")->creationDate(), std::nullopt);
    });
}

TEST_F(PersistentObjectTest, ARowWhoseBlobDoesNotDecodeIsSkippedAndKept) {
    const struct {
        const char* name;
        std::string blob;
    } cases[] = {
        {"not a typed BLOB", std::string("\x00\xff\x00", 3)},
        // Deeper than any parser's stack: one-element arrays around a zero.
        {"200,000 nested arrays", "C" + std::string(200000, '\x81') + std::string(1, '\0')},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        closeStorage();
        std::filesystem::remove_all(host_->caches);
        platform::log::flush();
        log_->clear();
        storage().lockedAccess([&] {
            for (auto id : {"a", "b", "c"}) {
                auto v = Var::dbObjectCreate();
                v->setId(std::string(id));
                const nlohmann::json value = id;
                v->setDataValue(&value);
            }
        });
        closeStorage();
        {
            SQLite::Database db(storePath(), SQLite::OPEN_READWRITE);
            SQLite::Statement update(
                db, "UPDATE MVWebStorageVariable SET dataValue = ? WHERE id = 'b'");
            update.bind(1, c.blob.data(), static_cast<int>(c.blob.size()));
            update.exec();
        }
        storage().lockedAccess([&] {
            EXPECT_EQ(ids(Var::dbObjectsWithoutFetchingProperties()),
                      (std::vector<std::string>{"a", "c"}));
            Var::dbObjectCreate()->setId(std::string("d"));
        });
        EXPECT_TRUE(logged("MVPersistentStorage skipped an unreadable row <MVWebStorageVariable"));
        EXPECT_EQ(loggedCount("skipped an unreadable row"), 1u);  // one fetch, one line
        ASSERT_TRUE(storage().waitUntilWrittenToDisc());
        EXPECT_EQ(rawCount(storePath(), "MVWebStorageVariable"), 4);
    }
}

TEST_F(PersistentObjectTest, AnObjectMadeAndDeletedInOneAccessNeverReachesTheStore) {
    storage().lockedAccess([&] {
        auto v = Var::dbObjectCreate();
        v->setId(std::string("gone"));
        v->deleteFromStorage();
        EXPECT_TRUE(Var::dbObjectsWithoutFetchingProperties().empty());
    });
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    EXPECT_EQ(rawCount(storePath(), "MVWebStorageVariable"), 0);
}

}  // namespace

TEST(StoredValueTest, AStoredRealReadsAsAnIntegerClampedToItsRange) {
    const struct {
        double real;
        int64_t integer;
    } rows[] = {{2.9, 2},
                {-2.9, -2},
                {1e300, std::numeric_limits<int64_t>::max()},
                {-1e300, std::numeric_limits<int64_t>::min()},
                {std::nan(""), 0}};
    for (auto& r : rows) EXPECT_EQ(MVStoredValue(r.real).integerValue(), r.integer) << r.real;
}
