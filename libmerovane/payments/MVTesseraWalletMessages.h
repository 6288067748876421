#pragma once
// The wallet checkout's messages: the two server commands that carry the wallet's
// results to the shop's server, and the page event of a failure.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVEvent.h"
#include "wallet/TWAAddress.h"

namespace MVCommandTesseraWallet {

// "tesseraWalletUpdate": both addresses as 13-key dictionaries ("" for a missing
// address), the transaction id, the e-mail as "mail" and the payment descriptions; every
// missing value is "".
MVCommand tesseraWalletUpdate(const std::shared_ptr<TWAAddress>& shippingAddress,
                              const std::shared_ptr<TWAAddress>& billingAddress,
                              const std::optional<std::string>& email,
                              const std::optional<std::string>& tesseraTransactionId,
                              const std::optional<std::vector<std::string>>& paymentDescriptions);
// "tesseraWalletFullWalletResponse": {"creditCard": {"pan", "cvn", "expMonth", "expYear"}},
// each missing value the number 0.
MVCommand tesseraWalletFullWalletResponse(const std::optional<std::string>& pan,
                                          const std::optional<std::string>& cvn,
                                          std::optional<int64_t> expireMonth,
                                          std::optional<int64_t> expireYear);

// The address dictionary, always with all 13 keys; lines after the third are dropped.
nlohmann::json addressDictionary(const TWAAddress& address);

}  // namespace MVCommandTesseraWallet

namespace MVEventTesseraWallet {

// "tesseraWalletError" with one dictionary {"error", "errorDescription", "occurrence"};
// missing values are "".
MVEvent tesseraWalletError(const std::optional<std::string>& error,
                           const std::optional<std::string>& errorDescription,
                           const std::optional<std::string>& occurrence);

}  // namespace MVEventTesseraWallet
