#pragma once
// A parameter specification: what a command expects of its parameter dictionary.
// Written in code, never read from input:
//
//   MVSpec spec{{"src", MVSpec::NSString},                     // required string
//               {"+title", MVSpec::NSString},                  // optional ("+")
//               {"bar", {{"color", MVSpec::NSString}}},         // nested dictionary
//               {"cmds", MVSpec::arrayOf(MVSpec::NSDictionary)},  // non-empty array
//               {"+context", {}}};                              // any dictionary
//
// A node is a class, a dictionary of members (kept in declaration order, which the
// validation log follows; empty means "any dictionary") or a one-element array.
// The class names are the ones the validation log prints. A value object; cheap to
// copy for the small specifications commands declare.

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class MVSpecClass {
    NSString,
    NSMutableString,
    NSNumber,  // numbers and booleans
    NSDictionary,
    NSMutableDictionary,
    NSArray,
    NSMutableArray,
};

// The name the validation log prints for a class.
std::string_view MVSpecClassName(MVSpecClass cls);

class MVSpec {
  public:
    enum class Kind { Class, Dictionary, Array };
    struct Member;

    static constexpr MVSpecClass NSString = MVSpecClass::NSString;
    static constexpr MVSpecClass NSMutableString = MVSpecClass::NSMutableString;
    static constexpr MVSpecClass NSNumber = MVSpecClass::NSNumber;
    static constexpr MVSpecClass NSDictionary = MVSpecClass::NSDictionary;
    static constexpr MVSpecClass NSMutableDictionary = MVSpecClass::NSMutableDictionary;
    static constexpr MVSpecClass NSArray = MVSpecClass::NSArray;
    static constexpr MVSpecClass NSMutableArray = MVSpecClass::NSMutableArray;

    // The empty dictionary: any dictionary passes.
    MVSpec();
    MVSpec(MVSpecClass cls);  // NOLINT: implicit, so members read {"src", MVSpec::NSString}
    MVSpec(std::initializer_list<Member> members);
    // A non-empty array whose every element matches `element`.
    static MVSpec arrayOf(MVSpec element);
    // A dictionary node built member by member.
    static MVSpec dictionary(std::vector<Member> members);

    MVSpec(const MVSpec&);
    MVSpec& operator=(const MVSpec&);
    MVSpec(MVSpec&&) noexcept;
    MVSpec& operator=(MVSpec&&) noexcept;
    ~MVSpec();

    Kind kind() const { return kind_; }
    // Class nodes only.
    MVSpecClass specClass() const { return class_; }
    // Dictionary nodes: the members as written (optional names keep their "+").
    const std::vector<Member>& members() const;
    // Array nodes: the one element.
    const MVSpec& element() const;

  private:
    Kind kind_ = Kind::Dictionary;
    MVSpecClass class_ = MVSpecClass::NSDictionary;
    std::vector<Member> members_;
    std::unique_ptr<MVSpec> element_;
};

struct MVSpec::Member {
    std::string name;
    MVSpec spec;
};
