#pragma once
// Camera capture: a session joins device inputs to outputs; a metadata output reports
// the barcodes it reads in the picture, a still-image output takes single pictures.
//
//   auto session = platform::CaptureSession::create();
//   session->addInput(input);
//   auto metadata = platform::CaptureMetadataOutput::create();
//   session->addOutput(metadata);   // its available types exist from now on
//   metadata->setMetadataObjectTypes({platform::kMetadataObjectTypeQRCode});
//   metadata->setMetadataObjectsDelegate(delegate);
//   session->startRunning();
//   platform::CameraFrameSource::showFrame(picture);  // delegate hears at the next turn
//
// The picture comes from CameraFrameSource: each frame shown while a session runs is
// read by every metadata output of that session that has a delegate, restricted to the
// chosen types; the first code the reader finds (one a frame) reaches the delegate on
// the main loop. A still image is the frame shown last, as a padded BGRA pixel buffer; its
// completion runs on a worker thread.
// Main thread only, but for the still-image completion and the pixel buffer it hands
// over, which the receiver owns.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/device/VideoCaptureDevice.h"
#include "platform/foundation/Error.h"
#include "platform/ui/Image.h"

namespace platform {

// The metadata object types the camera reads, and one it does not read from barcodes.
inline constexpr const char* kMetadataObjectTypeUPCECode = "MetadataObjectTypeUPCECode";
inline constexpr const char* kMetadataObjectTypeCode39Code = "MetadataObjectTypeCode39Code";
inline constexpr const char* kMetadataObjectTypeEAN13Code = "MetadataObjectTypeEAN13Code";
inline constexpr const char* kMetadataObjectTypeEAN8Code = "MetadataObjectTypeEAN8Code";
inline constexpr const char* kMetadataObjectTypeCode93Code = "MetadataObjectTypeCode93Code";
inline constexpr const char* kMetadataObjectTypeCode128Code = "MetadataObjectTypeCode128Code";
inline constexpr const char* kMetadataObjectTypePDF417Code = "MetadataObjectTypePDF417Code";
inline constexpr const char* kMetadataObjectTypeQRCode = "MetadataObjectTypeQRCode";
inline constexpr const char* kMetadataObjectTypeAztecCode = "MetadataObjectTypeAztecCode";
inline constexpr const char* kMetadataObjectTypeInterleaved2of5Code =
    "MetadataObjectTypeInterleaved2of5Code";
inline constexpr const char* kMetadataObjectTypeDataMatrixCode = "MetadataObjectTypeDataMatrixCode";
inline constexpr const char* kMetadataObjectTypeFace = "MetadataObjectTypeFace";

inline constexpr const char* kCaptureSessionPresetInputPriority =
    "CaptureSessionPresetInputPriority";
inline constexpr const char* kCaptureSessionPresetHigh = "CaptureSessionPresetHigh";

// Four-character code of 32-bit pixels in blue, green, red, alpha memory order.
inline constexpr uint32_t kPixelFormatType32BGRA = 0x42475241;  // 'BGRA'

// One object found in a frame: its type and, for a barcode, its text (none when the
// reader had none).
struct MetadataObject {
    std::string type;
    std::optional<std::string> stringValue;
    bool operator==(const MetadataObject&) const = default;
};

enum class VideoOrientation : int {
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};

// A port of an input: the media it delivers.
struct CaptureInputPort {
    std::string mediaType;
};

// Joins one input's ports to an output (or the preview).
class CaptureConnection {
  public:
    explicit CaptureConnection(std::vector<CaptureInputPort> ports) : ports_(std::move(ports)) {}
    const std::vector<CaptureInputPort>& inputPorts() const { return ports_; }
    bool isVideoOrientationSupported() const { return true; }
    VideoOrientation videoOrientation() const { return orientation_; }
    void setVideoOrientation(VideoOrientation o) { orientation_ = o; }

  private:
    std::vector<CaptureInputPort> ports_;
    VideoOrientation orientation_ = VideoOrientation::Portrait;
};

// Pixels of a still image, in the format its output was set up for. Rows may carry
// padding: read bytesPerRow, not width * 4. The base address is there only while
// locked.
class PixelBuffer {
  public:
    PixelBuffer(int width, int height, size_t bytesPerRow, uint32_t pixelFormat,
                std::vector<uint8_t> bytes);
    int width() const { return width_; }
    int height() const { return height_; }
    size_t bytesPerRow() const { return bytesPerRow_; }
    uint32_t pixelFormatType() const { return pixelFormat_; }
    void lockBaseAddress() { ++locks_; }
    void unlockBaseAddress() {
        if (locks_ > 0) --locks_;
    }
    // Null unless locked.
    const uint8_t* baseAddress() const { return locks_ > 0 ? bytes_.data() : nullptr; }

    // A BGRA buffer of the image, each row padded to a multiple of 64 bytes and by at
    // least 16 bytes, the padding filled with a pattern.
    static std::shared_ptr<PixelBuffer> bgraFromImage(const Image& image);

  private:
    int width_;
    int height_;
    size_t bytesPerRow_;
    uint32_t pixelFormat_;
    std::vector<uint8_t> bytes_;
    int locks_ = 0;
};

class CaptureSession;

class CaptureOutput : public std::enable_shared_from_this<CaptureOutput> {
  public:
    virtual ~CaptureOutput() = default;
    // The session this output was added to, or none.
    std::shared_ptr<CaptureSession> session() const { return session_.lock(); }
    // One connection for each input of its session; empty while detached.
    std::vector<std::shared_ptr<CaptureConnection>> connections() const;

  private:
    friend class CaptureSession;
    std::weak_ptr<CaptureSession> session_;
    mutable std::vector<std::shared_ptr<CaptureConnection>> connections_;
};

class CaptureMetadataOutput;

class CaptureMetadataOutputObjectsDelegate {
  public:
    virtual ~CaptureMetadataOutputObjectsDelegate() = default;
    virtual void captureOutputDidOutputMetadataObjects(
        CaptureMetadataOutput& output, const std::vector<MetadataObject>& objects,
        const std::shared_ptr<CaptureConnection>& connection) = 0;
};

class CaptureMetadataOutput : public CaptureOutput {
  public:
    static std::shared_ptr<CaptureMetadataOutput> create();

    // Empty until the output belongs to a session with a video input; then every
    // barcode type (kMetadataObjectType… but the face).
    std::vector<std::string> availableMetadataObjectTypes() const;
    const std::vector<std::string>& metadataObjectTypes() const { return types_; }
    // Throws NSInvalidArgumentException for a type that is not available.
    void setMetadataObjectTypes(std::vector<std::string> types);
    // Not owned; called on the main loop.
    void setMetadataObjectsDelegate(std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    std::shared_ptr<CaptureMetadataOutputObjectsDelegate> metadataObjectsDelegate() const {
        return delegate_.lock();
    }

    // Reads the frame for the chosen types; `extra` objects (tests: a face, a code
    // without text) come first and are not filtered. Tells the delegate at the next
    // turn when anything was found. Used by the session for each running frame.
    void readFrame(const Image& frame, std::vector<MetadataObject> extra);

  private:
    std::vector<std::string> types_;
    std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate_;
};

class CaptureStillImageOutput : public CaptureOutput {
  public:
    using Completion = std::function<void(std::shared_ptr<PixelBuffer>, std::optional<Error>)>;

    static std::shared_ptr<CaptureStillImageOutput> create();

    // Only kPixelFormatType32BGRA is supported; anything else throws
    // NSInvalidArgumentException. 0 until set.
    void setPixelFormatType(uint32_t fourCharCode);
    uint32_t pixelFormatType() const { return pixelFormat_; }

    // Takes the frame shown last. The completion runs on a worker thread with the
    // pixels, or with an error when the connection is none or not this output's, the
    // session does not run, no frame was shown yet, or a test set a failure.
    void captureStillImageAsynchronously(const std::shared_ptr<CaptureConnection>& connection,
                                         Completion completion);

    // The next capture fails with the error.
    void failNextCaptureForTesting(Error error) { nextFailure_ = std::move(error); }

  private:
    uint32_t pixelFormat_ = 0;
    std::optional<Error> nextFailure_;
};

class CaptureSession : public std::enable_shared_from_this<CaptureSession> {
  public:
    static std::shared_ptr<CaptureSession> create();
    ~CaptureSession();

    const std::vector<std::shared_ptr<CaptureDeviceInput>>& inputs() const { return inputs_; }
    bool canAddInput(const std::shared_ptr<CaptureDeviceInput>& input) const;
    // Throws NSInvalidArgumentException when canAddInput is false.
    void addInput(const std::shared_ptr<CaptureDeviceInput>& input);
    void removeInput(const std::shared_ptr<CaptureDeviceInput>& input);
    bool hasVideoInput() const;

    const std::vector<std::shared_ptr<CaptureOutput>>& outputs() const { return outputs_; }
    // False for an output that belongs to a session already.
    bool canAddOutput(const std::shared_ptr<CaptureOutput>& output) const;
    // Throws NSInvalidArgumentException when canAddOutput is false.
    void addOutput(const std::shared_ptr<CaptureOutput>& output);
    void removeOutput(const std::shared_ptr<CaptureOutput>& output);

    const std::string& sessionPreset() const { return preset_; }
    void setSessionPreset(std::string preset) { preset_ = std::move(preset); }

    void startRunning();
    void stopRunning();
    bool isRunning() const { return running_; }

    // For the frame source: hands a frame to the metadata outputs.
    void receiveFrame(const Image& frame, const std::vector<MetadataObject>& extra);

  private:
    CaptureSession() = default;

    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs_;
    std::vector<std::shared_ptr<CaptureOutput>> outputs_;
    std::string preset_ = kCaptureSessionPresetHigh;
    bool running_ = false;
};

// What the camera sees. Tests, fuzzers and benchmarks show frames by hand.
class CameraFrameSource {
  public:
    // Every running session with a video input reads the frame at once; `extra`
    // objects are handed to their metadata outputs beside what is read.
    static void showFrame(Image frame, std::vector<MetadataObject> extra = {});
    // The frame shown last, or none.
    static std::optional<Image> currentFrame();
};

}  // namespace platform
