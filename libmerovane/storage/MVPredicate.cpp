#include "libmerovane/storage/MVPredicate.h"

#include <fmt/core.h>

#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/Exception.h"

namespace {

using Op = MVPredicate::Op;

// SQLite allows 32766 parameters per statement; larger predicates are evaluated in memory.
constexpr size_t kMaxSqlParameters = 30000;

const char* opText(Op op) {
    switch (op) {
        case Op::Equal:
            return "==";
        case Op::NotEqual:
            return "!=";
        case Op::Less:
            return "<";
        case Op::LessOrEqual:
            return "<=";
        case Op::Greater:
            return ">";
        case Op::GreaterOrEqual:
            return ">=";
        case Op::In:
            return "IN";
        case Op::And:
            return "AND";
        case Op::Or:
            return "OR";
        default:
            return "";
    }
}

const char* sqlOp(Op op) {
    switch (op) {
        case Op::Equal:
            return " IS ";
        case Op::NotEqual:
            return " IS NOT ";
        case Op::Less:
            return " < ";
        case Op::LessOrEqual:
            return " <= ";
        case Op::Greater:
            return " > ";
        case Op::GreaterOrEqual:
            return " >= ";
        default:
            return "";
    }
}

}  // namespace

MVPredicate::MVPredicate() : node_(std::make_shared<const Node>()) {}

MVPredicate MVPredicate::equal(std::string key, MVStoredValue value) {
    return compare(std::move(key), Op::Equal, std::move(value));
}

MVPredicate MVPredicate::compare(std::string key, Op op, MVStoredValue value) {
    auto n = std::make_shared<Node>();
    n->op = op;
    n->key = std::move(key);
    n->values.push_back(std::move(value));
    return MVPredicate(std::move(n));
}

MVPredicate MVPredicate::in(std::string key, std::vector<MVStoredValue> values) {
    auto n = std::make_shared<Node>();
    n->op = Op::In;
    n->key = std::move(key);
    n->values = std::move(values);
    return MVPredicate(std::move(n));
}

MVPredicate MVPredicate::all(std::vector<MVPredicate> predicates) {
    auto n = std::make_shared<Node>();
    n->op = Op::And;
    n->children = std::move(predicates);
    return MVPredicate(std::move(n));
}

MVPredicate MVPredicate::any(std::vector<MVPredicate> predicates) {
    auto n = std::make_shared<Node>();
    n->op = Op::Or;
    n->children = std::move(predicates);
    return MVPredicate(std::move(n));
}

MVPredicate MVPredicate::negate(MVPredicate predicate) {
    auto n = std::make_shared<Node>();
    n->op = Op::Not;
    n->children.push_back(std::move(predicate));
    return MVPredicate(std::move(n));
}

std::string MVPredicate::description() const {
    const Node& n = *node_;
    switch (n.op) {
        case Op::True:
            return "TRUEPREDICATE";
        case Op::In: {
            std::string list;
            for (auto& v : n.values) list += (list.empty() ? "" : ", ") + v.description();
            return fmt::format("{} IN {{{}}}", n.key, list);
        }
        case Op::And:
        case Op::Or: {
            std::string out;
            for (auto& c : n.children)
                out += (out.empty() ? "" : fmt::format(" {} ", opText(n.op))) + "(" +
                       c.description() + ")";
            return out.empty() ? (n.op == Op::And ? "TRUEPREDICATE" : "FALSEPREDICATE") : out;
        }
        case Op::Not:
            return "NOT (" + n.children.at(0).description() + ")";
        default:
            return fmt::format("{} {} {}", n.key, opText(n.op), n.values.at(0).description());
    }
}

MVBoundPredicate::MVBoundPredicate(const MVPredicate& predicate, const MVEntityDescription& entity)
    : root_(bind(predicate, entity)) {}

MVBoundPredicate::Bound MVBoundPredicate::bind(const MVPredicate& p,
                                               const MVEntityDescription& entity) {
    const auto& n = p.node();
    Bound b;
    b.op = n.op;
    if (n.op == Op::True) return b;
    if (n.op == Op::And || n.op == Op::Or || n.op == Op::Not) {
        for (auto& c : n.children) b.children.push_back(bind(c, entity));
        return b;
    }
    b.attribute = entity.indexOfAttribute(n.key);
    if (b.attribute < 0)
        throw platform::Exception(
            platform::kInvalidArgumentException,
            fmt::format("keypath {} not found in entity <{}>", n.key, entity.name()));
    const auto type = entity.attributes()[static_cast<size_t>(b.attribute)].type;
    b.column = MVSQLiteStore::quotedName(n.key);
    for (auto& v : n.values) b.values.push_back(MVEntityDescription::coerce(type, v));
    return b;
}

int MVBoundPredicate::evaluate(const std::vector<MVStoredValue>& values) const {
    return eval(root_, values);
}

int MVBoundPredicate::eval(const Bound& b, const std::vector<MVStoredValue>& values) {
    switch (b.op) {
        case Op::True:
            return 1;
        case Op::And: {
            int result = 1;
            for (auto& c : b.children) {
                int r = eval(c, values);
                if (r == 0) return 0;
                if (r < 0) result = -1;
            }
            return result;
        }
        case Op::Or: {
            int result = 0;
            for (auto& c : b.children) {
                int r = eval(c, values);
                if (r == 1) return 1;
                if (r < 0) result = -1;
            }
            return result;
        }
        case Op::Not: {
            int r = eval(b.children.at(0), values);
            return r < 0 ? -1 : 1 - r;
        }
        default:
            break;
    }
    const MVStoredValue& v = values.at(static_cast<size_t>(b.attribute));
    switch (b.op) {
        case Op::Equal:
            return v == b.values[0] ? 1 : 0;
        case Op::NotEqual:
            return v == b.values[0] ? 0 : 1;
        case Op::In: {
            if (v.isNone()) return -1;
            bool sawNone = false;
            for (auto& x : b.values) {
                if (x.isNone())
                    sawNone = true;
                else if (v == x)
                    return 1;
            }
            return sawNone ? -1 : 0;
        }
        default:
            break;
    }
    if (v.isNone() || b.values[0].isNone()) return -1;
    const auto c = v <=> b.values[0];
    switch (b.op) {
        case Op::Less:
            return c < 0 ? 1 : 0;
        case Op::LessOrEqual:
            return c <= 0 ? 1 : 0;
        case Op::Greater:
            return c > 0 ? 1 : 0;
        case Op::GreaterOrEqual:
            return c >= 0 ? 1 : 0;
        default:
            return 0;
    }
}

size_t MVBoundPredicate::parameterCount(const Bound& b) {
    size_t n = b.values.size();
    for (auto& c : b.children) n += parameterCount(c);
    return n;
}

bool MVBoundPredicate::sql(std::string& where, std::vector<MVStoredValue>& parameters) const {
    if (parameterCount(root_) > kMaxSqlParameters) return false;
    render(root_, where, parameters);
    return true;
}

void MVBoundPredicate::render(const Bound& b, std::string& where,
                              std::vector<MVStoredValue>& params) {
    switch (b.op) {
        case Op::True:
            where += "1";
            return;
        case Op::And:
        case Op::Or:
            if (b.children.empty()) {
                where += b.op == Op::And ? "1" : "0";
                return;
            }
            where += "(";
            for (size_t i = 0; i < b.children.size(); ++i) {
                if (i) where += b.op == Op::And ? " AND " : " OR ";
                render(b.children[i], where, params);
            }
            where += ")";
            return;
        case Op::Not:
            where += "NOT (";
            render(b.children.at(0), where, params);
            where += ")";
            return;
        case Op::In:
            where += b.column + " IN (";
            for (size_t i = 0; i < b.values.size(); ++i) {
                where += i ? ",?" : "?";
                params.push_back(b.values[i]);
            }
            where += ")";
            return;
        default:
            where += b.column + sqlOp(b.op) + "?";
            params.push_back(b.values.at(0));
            return;
    }
}

MVBoundSort::MVBoundSort(const MVSortDescriptors& descriptors, const MVEntityDescription& entity) {
    for (auto& d : descriptors) {
        int i = entity.indexOfAttribute(d.key);
        if (i < 0)
            throw platform::Exception(
                platform::kInvalidArgumentException,
                fmt::format("keypath {} not found in entity <{}>", d.key, entity.name()));
        keys_.push_back({i, MVSQLiteStore::quotedName(d.key), d.ascending});
    }
}

int MVBoundSort::compare(const std::vector<MVStoredValue>& a,
                         const std::vector<MVStoredValue>& b) const {
    for (auto& k : keys_) {
        const auto c =
            a.at(static_cast<size_t>(k.attribute)) <=> b.at(static_cast<size_t>(k.attribute));
        if (c != 0) return (c < 0) == k.ascending ? -1 : 1;
    }
    return 0;
}

std::string MVBoundSort::sql() const {
    std::string out;
    for (auto& k : keys_)
        out += (out.empty() ? "" : ", ") + k.column + (k.ascending ? " ASC" : " DESC");
    return out;
}
