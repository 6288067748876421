#pragma once
// The live picture of a capture session, a layer that a view's layer holds.
//
//   auto preview = platform::CaptureVideoPreviewLayer::create(session);
//   preview->setFrame(view->bounds());
//   preview->setVideoGravity(platform::kLayerVideoGravityResizeAspectFill);
//   view->layer()->addSublayer(preview);
//
// Headless: nothing is drawn; the frame, the gravity and the connection's video
// orientation are kept for those who ask. Main thread only.

#include <memory>
#include <string>

#include "platform/device/CaptureSession.h"
#include "platform/foundation/Geometry.h"
#include "platform/ui/Layer.h"

namespace platform {

inline constexpr const char* kLayerVideoGravityResize = "LayerVideoGravityResize";
inline constexpr const char* kLayerVideoGravityResizeAspect = "LayerVideoGravityResizeAspect";
inline constexpr const char* kLayerVideoGravityResizeAspectFill =
    "LayerVideoGravityResizeAspectFill";

class CaptureVideoPreviewLayer : public Layer {
  public:
    static std::shared_ptr<CaptureVideoPreviewLayer> create(
        std::shared_ptr<CaptureSession> session);

    const std::shared_ptr<CaptureSession>& session() const { return session_; }
    // None while the session has no video input.
    std::shared_ptr<CaptureConnection> connection() const;

    const Rect& frame() const { return frame_; }
    void setFrame(const Rect& frame) { frame_ = frame; }
    const std::string& videoGravity() const { return gravity_; }
    void setVideoGravity(std::string gravity) { gravity_ = std::move(gravity); }

  private:
    explicit CaptureVideoPreviewLayer(std::shared_ptr<CaptureSession> session)
        : session_(std::move(session)) {}

    std::shared_ptr<CaptureSession> session_;
    mutable std::shared_ptr<CaptureConnection> connection_;
    Rect frame_;
    std::string gravity_ = kLayerVideoGravityResizeAspect;
};

}  // namespace platform
