#pragma once
// What a fetch asks for: a predicate over an entity's attributes and sort descriptors.
//
//   MVPredicate::equal("id", "a")                  // "%K=%@"
//   MVPredicate::in("id", {"a", "b"})              // "%K IN %@"
//   MVPredicate::all({MVPredicate::compare("timeoutInterval", MVPredicate::Op::Greater, 0),
//                     MVPredicate::negate(MVPredicate::equal("shadowed", true))})
//
// Equality is null-safe (a key equals none when it has no value); other comparisons
// with none are unknown, and unknown counts as no match, as in the store's SQL. A
// predicate is evaluated by the store when it can be and in memory for objects that
// have changed since; both give the same answer. Immutable; cheap to copy.

#include <memory>
#include <string>
#include <vector>

#include "libmerovane/storage/MVStoredValue.h"

class MVEntityDescription;

class MVPredicate {
  public:
    enum class Op {
        True,
        Equal,
        NotEqual,
        Less,
        LessOrEqual,
        Greater,
        GreaterOrEqual,
        In,
        And,
        Or,
        Not
    };

    // Matches every object.
    MVPredicate();
    static MVPredicate equal(std::string key, MVStoredValue value);
    static MVPredicate compare(std::string key, Op op, MVStoredValue value);
    static MVPredicate in(std::string key, std::vector<MVStoredValue> values);
    static MVPredicate all(std::vector<MVPredicate> predicates);
    static MVPredicate any(std::vector<MVPredicate> predicates);
    static MVPredicate negate(MVPredicate predicate);

    // For log lines: id == "a", id IN {"a", "b"}.
    std::string description() const;

    struct Node;
    const Node& node() const { return *node_; }

  private:
    explicit MVPredicate(std::shared_ptr<const Node> node) : node_(std::move(node)) {}
    std::shared_ptr<const Node> node_;
};

struct MVPredicate::Node {
    Op op = Op::True;
    std::string key;
    std::vector<MVStoredValue> values;  // one for comparisons, many for In
    std::vector<MVPredicate> children;  // And, Or, Not
};

struct MVSortDescriptor {
    std::string key;
    bool ascending = true;
};
using MVSortDescriptors = std::vector<MVSortDescriptor>;

// A predicate resolved against an entity: attribute positions found and values turned
// into the attributes' kinds. Throws NSInvalidArgumentException for a key the entity
// does not have.
class MVBoundPredicate {
  public:
    MVBoundPredicate(const MVPredicate& predicate, const MVEntityDescription& entity);

    // Three-valued: 1 match, 0 no match, -1 unknown.
    int evaluate(const std::vector<MVStoredValue>& values) const;
    bool matches(const std::vector<MVStoredValue>& values) const { return evaluate(values) == 1; }

    // The SQL condition (attributes as quoted column names) and its parameters in
    // order. False when the predicate is too large for one statement.
    bool sql(std::string& where, std::vector<MVStoredValue>& parameters) const;
    bool isTrue() const { return root_.op == MVPredicate::Op::True; }

  private:
    struct Bound {
        MVPredicate::Op op = MVPredicate::Op::True;
        int attribute = -1;
        std::string column;
        std::vector<MVStoredValue> values;
        std::vector<Bound> children;
    };
    static Bound bind(const MVPredicate& p, const MVEntityDescription& entity);
    static int eval(const Bound& b, const std::vector<MVStoredValue>& values);
    static void render(const Bound& b, std::string& where, std::vector<MVStoredValue>& params);
    static size_t parameterCount(const Bound& b);
    Bound root_;
};

// Sorts rows of an entity by the descriptors, then by row id.
class MVBoundSort {
  public:
    MVBoundSort(const MVSortDescriptors& descriptors, const MVEntityDescription& entity);
    bool empty() const { return keys_.empty(); }
    // Negative, zero or positive like a comparison; ties are left to the caller.
    int compare(const std::vector<MVStoredValue>& a, const std::vector<MVStoredValue>& b) const;
    // "ORDER BY" terms without the words, or empty.
    std::string sql() const;

  private:
    struct Key {
        int attribute;
        std::string column;
        bool ascending;
    };
    std::vector<Key> keys_;
};
