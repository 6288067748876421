#pragma once
// The camera: the default video device with its torch, and the input that feeds a
// capture session from it.
//
//   auto device = platform::VideoCaptureDevice::defaultDevice(platform::kMediaTypeVideo);
//   platform::Error error;
//   auto input = platform::CaptureDeviceInput::create(device, &error);
//   if (!input) log(error.localizedDescription());
//   if (device->hasTorch() && !device->lockForConfiguration(&error)) {
//       device->setTorchMode(platform::TorchMode::On);
//       device->unlockForConfiguration();
//   }
//
// One camera per process, as on a phone. Tests take it away, take its torch, and make
// locking or input creation fail. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

namespace platform {

inline constexpr const char* kMediaTypeVideo = "MediaTypeVideo";
inline constexpr const char* kMediaTypeMetadata = "MediaTypeMetadata";
inline constexpr const char* kCaptureErrorDomain = "CaptureErrorDomain";

enum class TorchMode : int { Off = 0, On = 1, Auto = 2 };

class VideoCaptureDevice {
  public:
    // The camera for video; none for any other media type, or while tests took it away.
    static std::shared_ptr<VideoCaptureDevice> defaultDevice(const std::string& mediaType);

    bool hasMediaType(const std::string& mediaType) const { return mediaType == kMediaTypeVideo; }
    bool hasTorch() const { return hasTorch_; }
    TorchMode torchMode() const { return torchMode_; }
    // Throws NSGenericException unless the device is locked for configuration, and
    // NSInvalidArgumentException on a device without torch, as the platform does.
    void setTorchMode(TorchMode mode);

    // True on success; false with `error` filled when the device is in use elsewhere.
    bool lockForConfiguration(Error* error);
    void unlockForConfiguration();
    bool isLockedForConfiguration() const { return locked_; }

    // Test hooks; all reset between tests.
    static void setAvailableForTesting(bool available);
    void setHasTorchForTesting(bool hasTorch) { hasTorch_ = hasTorch; }
    // Every later lock fails with the error, until cleared with none.
    void setLockErrorForTesting(std::optional<Error> error) { lockError_ = std::move(error); }

    VideoCaptureDevice() = default;

  private:
    bool hasTorch_ = true;
    TorchMode torchMode_ = TorchMode::Off;
    bool locked_ = false;
    std::optional<Error> lockError_;
};

class CaptureDeviceInput {
  public:
    // An input for the device; none with `error` filled when the device cannot be
    // opened (no device, or a failure set by a test).
    static std::shared_ptr<CaptureDeviceInput> create(
        const std::shared_ptr<VideoCaptureDevice>& device, Error* error);

    const std::shared_ptr<VideoCaptureDevice>& device() const { return device_; }

    // Every later creation fails with the error, until cleared with none.
    static void setCreationErrorForTesting(std::optional<Error> error);

    explicit CaptureDeviceInput(std::shared_ptr<VideoCaptureDevice> device)
        : device_(std::move(device)) {}

  private:
    std::shared_ptr<VideoCaptureDevice> device_;
};

}  // namespace platform
