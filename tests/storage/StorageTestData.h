#pragma once
// Helpers of the storage tests: plain SQL reads and a store of an older model.

#include <memory>
#include <string>
#include <utility>
#include <vector>

class MVObjectModel;

// Rows of a table of the store at `storePath`, read with plain SQL (-1 when the store
// cannot be read).
long long rawCount(const std::string& storePath, const std::string& table);

// An older model of the store: its web storage entity names two fields differently
// ("created", "value") and lacks "timeoutInterval".
std::shared_ptr<const MVObjectModel> olderModel();
// Writes a store of the older model at `path` with web storage rows {id, created}.
void writeOlderStore(const std::string& path,
                     const std::vector<std::pair<std::string, double>>& rows);
// Puts the older model and, when asked, its mapping to the current model into the bundle.
void writeOlderModelToBundle(const std::string& bundle, bool withMapping);
