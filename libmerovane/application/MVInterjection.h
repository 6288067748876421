#pragma once
// An interjection: an outside request to show something in the web app, the opening of
// a pushed notification or of a deep link. The interjection handler keeps the current
// one and matches the server's answers to it through representations, lightweight
// instances built only to compare:
//
//   auto link = MVInterjection::interjectionWithId<MVDeepLinkInterjection>("product/42");
//   auto answer = MVInterjection::representationForSerialId<MVDeepLinkInterjection>(1000);
//   if (answer->hasEqualClassAsInterjection(link.get()) &&
//   answer->isEqualToInterjection(link.get()))
//
// Full instances take their serial from a process-wide counter whose first value is
// 1000; representations take none. The then-do block is run by the handler when the
// interjection stops being current, never by the destructor.
// Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

class MVCommandHandler;

class MVInterjection {
  public:
    using ThenDo = std::function<void(bool completed)>;

    virtual ~MVInterjection() = default;

    // A new interjection with a new serial.
    template <class Kind>
    static std::shared_ptr<Kind> interjectionWithId(std::string id, ThenDo thenDo = nullptr) {
        auto interjection = std::shared_ptr<Kind>(new Kind);
        interjection->id_ = std::move(id);
        interjection->serialId_ = nextSerial();
        interjection->thenDo = std::move(thenDo);
        return interjection;
    }
    template <class Kind>
    static std::shared_ptr<Kind> representationForId(std::string id) {
        return representationForId<Kind>(std::move(id), 0);
    }
    template <class Kind>
    static std::shared_ptr<Kind> representationForSerialId(int64_t serialId) {
        return representationForId<Kind>({}, serialId);
    }
    template <class Kind>
    static std::shared_ptr<Kind> representationForId(std::string id, int64_t serialId) {
        auto interjection = std::shared_ptr<Kind>(new Kind);
        interjection->id_ = std::move(id);
        interjection->serialId_ = serialId;
        interjection->isRepresentation_ = true;
        return interjection;
    }

    const std::string& id() const { return id_; }
    int64_t serialId() const { return serialId_; }
    bool isRepresentation() const { return isRepresentation_; }

    // The class name reports carry.
    virtual const char* className() const { return "MVInterjection"; }
    // The waiting overlay's text, localised; "" in the base class.
    virtual std::string overlayMessage() const { return {}; }
    // Same object in the base class; the kinds compare by id or serial. No for null.
    virtual bool isEqualToInterjection(const MVInterjection* other) const;
    // Whether the other is of exactly this kind. No for null.
    bool hasEqualClassAsInterjection(const MVInterjection* other) const;
    // {"interjectionId", "interjectionClass", "interjectionSerial"}.
    nlohmann::json errorData() const;

    // Run once when the interjection ends (by the handler).
    ThenDo thenDo;
    // A server answer held until the boot command has run.
    std::optional<nlohmann::json> commandList;
    std::shared_ptr<MVCommandHandler> commandHandler;

    // Starts the serials again at 1000.
    static void resetSerialsForTesting();

  protected:
    MVInterjection() = default;

  private:
    static int64_t nextSerial();

    std::string id_;
    int64_t serialId_ = 0;
    bool isRepresentation_ = false;
};

// A pushed notification's opening: equal by id.
class MVPushNotificationInterjection : public MVInterjection {
  public:
    const char* className() const override { return "MVPushNotificationInterjection"; }
    std::string overlayMessage() const override;
    bool isEqualToInterjection(const MVInterjection* other) const override;

  private:
    friend class MVInterjection;
    MVPushNotificationInterjection() = default;
};

// A deep link's opening: equal by serial, so the same link opened twice is two.
class MVDeepLinkInterjection : public MVInterjection {
  public:
    const char* className() const override { return "MVDeepLinkInterjection"; }
    std::string overlayMessage() const override;
    bool isEqualToInterjection(const MVInterjection* other) const override;

  private:
    friend class MVInterjection;
    MVDeepLinkInterjection() = default;
};
