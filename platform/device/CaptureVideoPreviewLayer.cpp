#include "platform/device/CaptureVideoPreviewLayer.h"

namespace platform {

std::shared_ptr<CaptureVideoPreviewLayer> CaptureVideoPreviewLayer::create(
    std::shared_ptr<CaptureSession> session) {
    return std::shared_ptr<CaptureVideoPreviewLayer>(
        new CaptureVideoPreviewLayer(std::move(session)));
}

std::shared_ptr<CaptureConnection> CaptureVideoPreviewLayer::connection() const {
    if (!session_ || !session_->hasVideoInput()) return nullptr;
    if (!connection_)
        connection_ =
            std::make_shared<CaptureConnection>(std::vector<CaptureInputPort>{{kMediaTypeVideo}});
    return connection_;
}

}  // namespace platform
