#include "libmerovane/storage/MVSQLiteStore.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <fmt/core.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>

#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPredicate.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr const char* kMetadataTable = "mv_store_metadata";
constexpr const char* kRowIDColumn = "mv_pk";
constexpr int kBusyTimeoutMs = 5000;
std::atomic<int> gBusyTimeoutMs{kBusyTimeoutMs};

// Error codes of the store, in the platform's persistence range.
constexpr long kStoreOpenError = 134080;
constexpr long kIncompatibleVersionHashError = 134100;
constexpr long kMigrationError = 134110;
constexpr long kStoreSaveError = 134030;

platform::Error makeError(long code, const std::string& text, const std::string& path,
                          int sqliteCode = 0) {
    nlohmann::json info = {{platform::kLocalizedDescriptionKey, text}, {"NSFilePath", path}};
    if (sqliteCode) info["NSSQLiteErrorDomain"] = sqliteCode;
    return platform::Error::withUserInfo(platform::kCocoaErrorDomain, code, info);
}

void setError(platform::Error* out, platform::Error e) {
    if (out) *out = std::move(e);
}

// The SQLite result code of an exception, 0 when it is none.
int sqliteCode(const std::exception& e) {
    auto* sqlite = dynamic_cast<const SQLite::Exception*>(&e);
    return sqlite && sqlite->getErrorCode() > 0 ? sqlite->getErrorCode() : 0;
}

bool isDamageCode(int code) {
    return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB;
}

bool isDiscFailureCode(int code) {
    return (code & 0xff) == SQLITE_FULL || (code & 0xff) == SQLITE_IOERR;
}

// The SQLite result code an error of this file carries, 0 when it has none.
int sqliteCode(const platform::Error& error) {
    const nlohmann::json info = error.userInfo();
    const nlohmann::json* code = platform::json::find(info, "NSSQLiteErrorDomain");
    return code && code->is_number_integer() ? code->get<int>() : 0;
}

// Damage met after start-up fails the access; it is reported once per store.
void reportDamage(std::atomic<bool>& reported, const std::string& path, const std::exception& e) {
    if (!isDamageCode(sqliteCode(e)) || reported.exchange(true)) return;
    MVErrorLogger::logError("MVPersistentStorage store is damaged",
                            {{"NSFilePath", path}, {"reason", e.what()}});
}

const char* columnType(MVAttributeType type) {
    switch (MVEntityDescription::storedKind(type)) {
        case MVStoredValue::Kind::Text:
            return "TEXT";
        case MVStoredValue::Kind::Integer:
            return "INTEGER";
        case MVStoredValue::Kind::Real:
            return "REAL";
        default:
            return "BLOB";
    }
}

// The WAL files stay when the last connection closes: the store is always three files.
void configureConnection(SQLite::Database& db) {
    int persist = 1;
    sqlite3_file_control(db.getHandle(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
}

std::unique_ptr<SQLite::Database> openConnection(const std::string& path, bool create) {
    auto db = std::make_unique<SQLite::Database>(
        path, SQLite::OPEN_READWRITE | (create ? SQLite::OPEN_CREATE : 0) | SQLite::OPEN_NOMUTEX,
        gBusyTimeoutMs.load());
    configureConnection(*db);
    return db;
}

void bindValue(SQLite::Statement& st, int index, const MVStoredValue& v) {
    switch (v.kind()) {
        case MVStoredValue::Kind::None:
            st.bind(index);
            break;
        case MVStoredValue::Kind::Integer:
            st.bind(index, *v.ifInteger());
            break;
        case MVStoredValue::Kind::Real:
            st.bind(index, *v.ifReal());
            break;
        case MVStoredValue::Kind::Text:
            st.bindNoCopy(index, *v.ifText());
            break;
        case MVStoredValue::Kind::Json: {
            const std::string blob = MVStoredValue::encodeJsonBlob(**v.ifJson());
            st.bind(index, blob.data(), static_cast<int>(blob.size()));
            break;
        }
    }
}

// The attribute's value from a column; false when the column cannot be one.
bool readValue(const SQLite::Column& c, MVAttributeType type, MVStoredValue& out) {
    const auto kind = MVEntityDescription::storedKind(type);
    switch (c.getType()) {
        case SQLITE_NULL:
            out = {};
            return true;
        case SQLITE_INTEGER:
            out = kind == MVStoredValue::Kind::Real
                      ? MVStoredValue(static_cast<double>(c.getInt64()))
                      : MVStoredValue(static_cast<int64_t>(c.getInt64()));
            if (kind == MVStoredValue::Kind::Json) out = MVEntityDescription::coerce(type, out);
            return true;
        case SQLITE_FLOAT:
            out = MVStoredValue(c.getDouble());
            if (kind == MVStoredValue::Kind::Json) out = MVEntityDescription::coerce(type, out);
            return true;
        case SQLITE_TEXT:
            out = MVStoredValue(std::string(c.getText(), static_cast<size_t>(c.getBytes())));
            if (kind == MVStoredValue::Kind::Json) out = MVEntityDescription::coerce(type, out);
            return true;
        case SQLITE_BLOB: {
            if (kind != MVStoredValue::Kind::Json) return false;
            auto json =
                MVStoredValue::decodeJsonBlob(c.getBlob(), static_cast<size_t>(c.getBytes()));
            if (!json) return false;
            out = MVStoredValue(std::move(json));
            return true;
        }
    }
    return false;
}

std::string newUUID() {
    std::random_device rd;
    std::uniform_int_distribution<uint32_t> d;
    return fmt::format("{:08X}-{:04X}-4{:03X}-{:04X}-{:08X}{:04X}", d(rd), d(rd) & 0xffff,
                       d(rd) & 0xfff, (d(rd) & 0x3fff) | 0x8000, d(rd), d(rd) & 0xffff);
}

bool tableExists(SQLite::Database& db, const std::string& name) {
    SQLite::Statement st(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?");
    st.bind(1, name);
    return st.executeStep();
}

nlohmann::json readMetadata(SQLite::Database& db) {
    nlohmann::json meta = nlohmann::json::object();
    SQLite::Statement st(db, fmt::format("SELECT key, value FROM {}", kMetadataTable));
    while (st.executeStep()) {
        auto value = MVStoredValue::decodeJsonBlob(st.getColumn(1).getBlob(),
                                                   static_cast<size_t>(st.getColumn(1).getBytes()));
        if (!value) throw SQLite::Exception("unreadable store metadata");
        meta[st.getColumn(0).getString()] = *value;
    }
    return meta;
}

void createSchema(SQLite::Database& db, const MVObjectModel& model,
                  const std::string& configuration) {
    db.exec(fmt::format("CREATE TABLE {} (key TEXT PRIMARY KEY NOT NULL, value BLOB NOT NULL)",
                        kMetadataTable));
    for (auto* e : model.entitiesForConfiguration(configuration)) {
        std::string columns = fmt::format("{} INTEGER PRIMARY KEY", kRowIDColumn);
        for (auto& a : e->attributes())
            columns +=
                fmt::format(", {} {}", MVSQLiteStore::quotedName(a.name), columnType(a.type));
        db.exec(fmt::format("CREATE TABLE {} ({})", MVSQLiteStore::quotedName(e->name()), columns));
        if (e->indexOfAttribute("id") >= 0)
            db.exec(fmt::format("CREATE INDEX {} ON {} (\"id\")",
                                MVSQLiteStore::quotedName(e->name() + "_id"),
                                MVSQLiteStore::quotedName(e->name())));
    }
}

// "<verb> INTO <table> (row id, attributes...) VALUES (?, ...)".
std::string insertSql(const char* verb, const MVEntityDescription& e) {
    std::string names = kRowIDColumn, marks = "?";
    for (auto& a : e.attributes()) {
        names += ", " + MVSQLiteStore::quotedName(a.name);
        marks += ", ?";
    }
    return fmt::format("{} INTO {} ({}) VALUES ({})", verb, MVSQLiteStore::quotedName(e.name()),
                       names, marks);
}

void writeMetadata(SQLite::Database& db, const nlohmann::json& meta) {
    SQLite::Statement st(
        db, fmt::format("INSERT OR REPLACE INTO {} (key, value) VALUES (?, ?)", kMetadataTable));
    for (auto it = meta.begin(); it != meta.end(); ++it) {
        const std::string blob = MVStoredValue::encodeJsonBlob(*it);
        st.reset();
        st.bind(1, it.key());
        st.bind(2, blob.data(), static_cast<int>(blob.size()));
        st.exec();
    }
}

nlohmann::json metadataFor(const MVObjectModel& model, const std::string& configuration) {
    return {{kStoreTypeKey, kSQLiteStoreType},
            {kStoreModelVersionIdentifiersKey, model.versionIdentifiers()},
            {kStoreModelVersionHashesKey, model.entityVersionHashes(configuration)},
            {kStoreUUIDKey, newUUID()}};
}

// A prepared statement in use: reset when the use ends, so that no read transaction
// outlives it (an open one would keep every checkpoint from emptying the WAL).
class StatementUse {
  public:
    explicit StatementUse(SQLite::Statement& st) : st_(st) {}
    ~StatementUse() {
        try {
            st_.reset();
            st_.clearBindings();
        } catch (const std::exception&) {
        }
    }
    SQLite::Statement* operator->() { return &st_; }
    SQLite::Statement& operator*() { return st_; }

  private:
    SQLite::Statement& st_;
};

// A connection with its prepared statements, used by one thread at a time.
struct Connection {
    std::unique_ptr<SQLite::Database> db;
    std::map<std::string, std::unique_ptr<SQLite::Statement>> statements;

    StatementUse statement(const std::string& sql) {
        auto& st = statements[sql];
        if (!st) st = std::make_unique<SQLite::Statement>(*db, sql);
        return StatementUse(*st);
    }
};

}  // namespace

bool MVStoreBatch::empty() const {
    for (auto& e : entities)
        if (!e.empty()) return false;
    return true;
}

struct MVSQLiteStore::Impl {
    std::string path;
    std::shared_ptr<const MVObjectModel> model;
    std::string configuration;
    nlohmann::json metadata;
    std::vector<const MVEntityDescription*>
        entities;  // model order; null when not in the configuration

    std::mutex writerMutex;
    Connection writer;

    mutable std::mutex poolMutex;
    mutable std::vector<std::unique_ptr<Connection>> readers;

    int64_t openedMaxRowID = 0;
    mutable std::atomic<bool> damageReported{false};

    int64_t readMaxRowID() {
        int64_t best = 0;
        for (auto* e : entities) {
            if (!e) continue;
            auto st = writer.statement(fmt::format("SELECT max({}) FROM {}", kRowIDColumn,
                                                   MVSQLiteStore::quotedName(e->name())));
            if (st->executeStep() && !st->getColumn(0).isNull())
                best = std::max<int64_t>(best, st->getColumn(0).getInt64());
        }
        return best;
    }

    std::unique_ptr<Connection> takeReader() const {
        {
            std::lock_guard lock(poolMutex);
            if (!readers.empty()) {
                auto c = std::move(readers.back());
                readers.pop_back();
                return c;
            }
        }
        auto c = std::make_unique<Connection>();
        c->db = openConnection(path, false);
        return c;
    }
    void giveBack(std::unique_ptr<Connection> c) const {
        std::lock_guard lock(poolMutex);
        readers.push_back(std::move(c));
    }
};

MVSQLiteStore::MVSQLiteStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MVSQLiteStore::~MVSQLiteStore() = default;

std::unique_ptr<MVSQLiteStore> MVSQLiteStore::open(const std::string& path,
                                                   std::shared_ptr<const MVObjectModel> model,
                                                   const std::string& configuration,
                                                   platform::Error* error) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->configuration = configuration;
    // A store begun here (on a full disc, say) is not left half made.
    const bool made = !platform::FileManager::defaultManager().fileExists(path);
    auto failed = [&](const std::exception& e) {
        setError(error, makeError(kStoreOpenError, e.what(), path, sqliteCode(e)));
        if (made) {
            impl.reset();  // its connection first
            removeStoreFiles(path, nullptr);
        }
        return nullptr;
    };
    try {
        impl->writer.db = openConnection(path, true);
        auto& db = *impl->writer.db;
        const std::string mode = db.execAndGet("PRAGMA journal_mode=WAL").getString();
        if (mode != "wal") throw SQLite::Exception("the store cannot use a WAL journal");
        db.exec("PRAGMA synchronous=NORMAL");
        if (tableExists(db, kMetadataTable)) {
            // Damaged pages behind an intact header show here rather than on a later read.
            const std::string check = db.execAndGet("PRAGMA quick_check").getString();
            if (check != "ok")
                throw SQLite::Exception("the store failed its check: " + check.substr(0, 512),
                                        SQLITE_CORRUPT);
            impl->metadata = readMetadata(db);
            if (!model->isConfigurationCompatible(configuration, impl->metadata)) {
                setError(
                    error,
                    makeError(
                        kIncompatibleVersionHashError,
                        "The model used to open the store is incompatible with the one used to "
                        "create the store.",
                        path));
                return nullptr;
            }
        } else {
            if (db.execAndGet("SELECT count(*) FROM sqlite_master").getInt64() != 0) {
                setError(error, makeError(kStoreOpenError, "The file holds tables of another kind.",
                                          path));
                return nullptr;
            }
            impl->metadata = metadataFor(*model, configuration);
            SQLite::Transaction t(db);
            createSchema(db, *model, configuration);
            writeMetadata(db, impl->metadata);
            t.commit();
        }
    } catch (const std::exception& e) {
        return failed(e);
    }
    auto configured = model->entitiesForConfiguration(configuration);
    for (auto& e : model->entities()) {
        bool in = std::find(configured.begin(), configured.end(), e.get()) != configured.end();
        impl->entities.push_back(in ? e.get() : nullptr);
    }
    impl->model = std::move(model);
    try {
        impl->openedMaxRowID = impl->readMaxRowID();
    } catch (const std::exception& e) {
        return failed(e);
    }
    return std::unique_ptr<MVSQLiteStore>(new MVSQLiteStore(std::move(impl)));
}

std::optional<nlohmann::json> MVSQLiteStore::metadataForStore(const std::string& path,
                                                              platform::Error* error) {
    bool isDirectory = false;
    if (!platform::FileManager::defaultManager().fileExists(path, &isDirectory) || isDirectory) {
        setError(error, makeError(platform::kFileNoSuchFileError,
                                  isDirectory ? "A folder stands in the store file's place."
                                              : "The store file does not exist.",
                                  path));
        return std::nullopt;
    }
    try {
        auto db = openConnection(path, false);
        if (!tableExists(*db, kMetadataTable)) {
            setError(error, makeError(kStoreOpenError,
                                      "The file is not a store: it has no metadata.", path));
            return std::nullopt;
        }
        return readMetadata(*db);
    } catch (const std::exception& e) {
        setError(error, makeError(kStoreOpenError, e.what(), path, sqliteCode(e)));
        return std::nullopt;
    }
}

bool MVSQLiteStore::migrate(const std::string& sourcePath, const MVObjectModel& sourceModel,
                            const MVMappingModel& mapping, const std::string& destinationPath,
                            std::shared_ptr<const MVObjectModel> destinationModel,
                            const std::string& configuration, platform::Error* error) {
    try {
        auto source = openConnection(sourcePath, false);
        platform::Error openError;
        auto destination = open(destinationPath, destinationModel, configuration, &openError);
        if (!destination) {
            setError(error, openError);
            return false;
        }
        auto& db = *destination->impl_->writer.db;
        SQLite::Transaction t(db);
        for (auto* e : destinationModel->entitiesForConfiguration(configuration)) {
            const auto* m = mapping.mappingForDestination(e->name());
            if (!m) continue;
            const auto* from = sourceModel.entityNamed(m->source);
            if (!from || !tableExists(*source, from->name())) continue;
            // Source column per destination attribute, or none.
            std::vector<int> take;
            std::string columns = kRowIDColumn;
            for (auto& a : e->attributes()) {
                auto named = m->attributes.find(a.name);
                const std::string sourceName =
                    named != m->attributes.end() ? named->second : a.name;
                const int index = from->indexOfAttribute(sourceName);
                take.push_back(index);
                if (index >= 0) columns += ", " + MVSQLiteStore::quotedName(sourceName);
            }
            SQLite::Statement read(
                *source, fmt::format("SELECT {} FROM {} ORDER BY {}", columns,
                                     MVSQLiteStore::quotedName(from->name()), kRowIDColumn));
            SQLite::Statement insert(db, insertSql("INSERT", *e));
            while (read.executeStep()) {
                insert.reset();
                insert.clearBindings();
                insert.bind(1, static_cast<int64_t>(read.getColumn(0).getInt64()));
                // Bound texts are not copied: the values live until the insert ran.
                std::vector<MVStoredValue> values(take.size());
                int column = 1;
                for (size_t i = 0; i < take.size(); ++i) {
                    if (take[i] < 0) continue;
                    MVStoredValue v;
                    if (!readValue(read.getColumn(column++),
                                   from->attributes()[static_cast<size_t>(take[i])].type, v))
                        continue;  // an unreadable value stays empty rather than losing its row
                    values[i] = MVEntityDescription::coerce(e->attributes()[i].type, v);
                    bindValue(insert, static_cast<int>(i) + 2, values[i]);
                }
                insert.exec();
            }
        }
        t.commit();
        return true;
    } catch (const std::exception& e) {
        setError(error, makeError(kMigrationError, e.what(), destinationPath, sqliteCode(e)));
    }
    removeStoreFiles(destinationPath, nullptr);
    return false;
}

void MVSQLiteStore::setBusyTimeoutForTesting(int milliseconds) {
    gBusyTimeoutMs = milliseconds > 0 ? std::min(milliseconds, kBusyTimeoutMs) : kBusyTimeoutMs;
}

bool MVSQLiteStore::removeStoreFiles(const std::string& path, platform::Error* error) {
    // A companion left beside a new store would be taken for part of it.
    auto& files = platform::FileManager::defaultManager();
    bool storeGone = true;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string file = path + suffix;
        const bool isStore = *suffix == '\0';
        if (files.fileExists(file) && !files.removeItem(file, isStore ? error : nullptr) && isStore)
            storeGone = false;
    }
    return storeGone;
}

std::string MVSQLiteStore::quotedName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

const std::string& MVSQLiteStore::path() const {
    return impl_->path;
}
const MVObjectModel& MVSQLiteStore::model() const {
    return *impl_->model;
}
nlohmann::json MVSQLiteStore::metadata() const {
    return impl_->metadata;
}

bool MVSQLiteStore::isDamage(const platform::Error& error) {
    return isDamageCode(sqliteCode(error));
}

bool MVSQLiteStore::isDiscFailure(const platform::Error& error) {
    return isDiscFailureCode(sqliteCode(error));
}

int64_t MVSQLiteStore::maxRowID() const {
    std::lock_guard lock(impl_->writerMutex);
    try {
        return std::max(impl_->openedMaxRowID, impl_->readMaxRowID());
    } catch (const std::exception& e) {
        // Read once when the store opened; nothing was written past it without the writer.
        MVLogWarn("MVPersistentStorage could not read the largest row id: {}", e.what());
        reportDamage(impl_->damageReported, impl_->path, e);
        return impl_->openedMaxRowID;
    }
}

std::optional<std::vector<MVStoreRow>> MVSQLiteStore::select(const MVEntityDescription& entity,
                                                             const MVBoundPredicate& predicate,
                                                             const MVBoundSort* sort, size_t offset,
                                                             size_t limit) const {
    std::string where;
    std::vector<MVStoredValue> params;
    const bool inSql = predicate.isTrue() || predicate.sql(where, params);
    std::string columns = kRowIDColumn;
    for (auto& a : entity.attributes()) columns += ", " + MVSQLiteStore::quotedName(a.name);
    std::string sql =
        fmt::format("SELECT {} FROM {}", columns, MVSQLiteStore::quotedName(entity.name()));
    if (inSql && !predicate.isTrue()) sql += " WHERE " + where;
    if (inSql && sort && !sort->empty())
        sql += " ORDER BY " + sort->sql() + ", " + kRowIDColumn;
    else
        sql += fmt::format(" ORDER BY {}", kRowIDColumn);
    const bool pageInSql = inSql && (offset || limit);
    if (pageInSql)
        sql += fmt::format(" LIMIT {} OFFSET {}", limit ? static_cast<int64_t>(limit) : -1, offset);

    std::vector<MVStoreRow> rows;
    auto reader = impl_->takeReader();
    try {
        auto use = reader->statement(sql);
        auto& st = *use;
        if (inSql)
            for (size_t i = 0; i < params.size(); ++i)
                bindValue(st, static_cast<int>(i) + 1, params[i]);
        const auto& attributes = entity.attributes();
        while (st.executeStep()) {
            MVStoreRow row;
            row.rowID = st.getColumn(0).getInt64();
            row.values.resize(attributes.size());
            bool readable = true;
            for (size_t i = 0; i < attributes.size() && readable; ++i)
                readable = readValue(st.getColumn(static_cast<int>(i) + 1), attributes[i].type,
                                     row.values[i]);
            if (!readable) {
                MVLogWarn("MVPersistentStorage skipped an unreadable row <{} {}>", entity.name(),
                          row.rowID);
                continue;
            }
            if (!inSql && !predicate.matches(row.values)) continue;
            rows.push_back(std::move(row));
        }
    } catch (const std::exception& e) {
        MVLogWarn("MVPersistentStorage fetch of <{}> failed: {}", entity.name(), e.what());
        reportDamage(impl_->damageReported, impl_->path, e);
        impl_->giveBack(std::move(reader));
        return std::nullopt;
    }
    impl_->giveBack(std::move(reader));
    if (!inSql) {
        if (sort && !sort->empty())
            std::stable_sort(rows.begin(), rows.end(),
                             [&](const MVStoreRow& a, const MVStoreRow& b) {
                                 return sort->compare(a.values, b.values) < 0;
                             });
        if (offset)
            rows.erase(rows.begin(),
                       rows.begin() + static_cast<long>(std::min(offset, rows.size())));
        if (limit && rows.size() > limit) rows.resize(limit);
    }
    return rows;
}

bool MVSQLiteStore::write(const std::vector<std::shared_ptr<const MVStoreBatch>>& batches,
                          platform::Error* error) {
    std::lock_guard lock(impl_->writerMutex);
    auto& w = impl_->writer;
    try {
        SQLite::Transaction t(*w.db);
        for (auto& batch : batches) {
            for (size_t ei = 0; ei < batch->entities.size() && ei < impl_->entities.size(); ++ei) {
                const auto* e = impl_->entities[ei];
                if (!e || batch->entities[ei].empty()) continue;
                const std::string upsert = insertSql("INSERT OR REPLACE", *e);
                const std::string remove =
                    fmt::format("DELETE FROM {} WHERE {} = ?", MVSQLiteStore::quotedName(e->name()),
                                kRowIDColumn);
                for (auto& change : batch->entities[ei]) {
                    if (!change.values) {
                        auto st = w.statement(remove);
                        st->bind(1, change.rowID);
                        st->exec();
                        continue;
                    }
                    auto st = w.statement(upsert);
                    st->bind(1, change.rowID);
                    for (size_t i = 0; i < change.values->size(); ++i)
                        bindValue(*st, static_cast<int>(i) + 2, (*change.values)[i]);
                    st->exec();
                }
            }
        }
        t.commit();
        return true;
    } catch (const std::exception& e) {
        setError(error, makeError(kStoreSaveError, e.what(), impl_->path, sqliteCode(e)));
        reportDamage(impl_->damageReported, impl_->path, e);
        return false;
    }
}
