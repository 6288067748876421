#include "platform/device/VideoCaptureDevice.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

struct CameraState {
    std::shared_ptr<VideoCaptureDevice> device = std::make_shared<VideoCaptureDevice>();
    bool available = true;
    std::optional<Error> inputError;
};

CameraState& cameraState() {
    static auto* state = [] {
        auto* s = new CameraState;
        registerSharedInstanceReset("VideoCaptureDevice", [s] { *s = CameraState{}; });
        return s;
    }();
    return *state;
}

}  // namespace

std::shared_ptr<VideoCaptureDevice> VideoCaptureDevice::defaultDevice(
    const std::string& mediaType) {
    auto& state = cameraState();
    if (!state.available || mediaType != kMediaTypeVideo) return nullptr;
    return state.device;
}

void VideoCaptureDevice::setAvailableForTesting(bool available) {
    cameraState().available = available;
}

void VideoCaptureDevice::setTorchMode(TorchMode mode) {
    if (!locked_)
        throw Exception("NSGenericException", "setTorchMode: called without lockForConfiguration");
    if (!hasTorch_) throw Exception(kInvalidArgumentException, "setTorchMode: device has no torch");
    torchMode_ = mode;
}

bool VideoCaptureDevice::lockForConfiguration(Error* error) {
    if (lockError_) {
        if (error) *error = *lockError_;
        return false;
    }
    locked_ = true;
    return true;
}

void VideoCaptureDevice::unlockForConfiguration() {
    locked_ = false;
}

std::shared_ptr<CaptureDeviceInput> CaptureDeviceInput::create(
    const std::shared_ptr<VideoCaptureDevice>& device, Error* error) {
    auto& state = cameraState();
    std::optional<Error> failure = state.inputError;
    if (!failure && !device) failure = Error(kCaptureErrorDomain, -11814, "Cannot Record");
    if (failure) {
        if (error) *error = *failure;
        return nullptr;
    }
    return std::make_shared<CaptureDeviceInput>(device);
}

void CaptureDeviceInput::setCreationErrorForTesting(std::optional<Error> error) {
    cameraState().inputError = std::move(error);
}

}  // namespace platform
