#pragma once
// A fetched document that is no page: an attachment (Content-Disposition), or of a type
// the engine cannot show. It is saved in the shell's download folder, "Downloads" below
// the application's home, as the platform keeps what a user downloads, and the page
// that asked for it stays.
//
//   if (isDownloadResponse(response)) path = saveDownload(response, body, &error);
//
// The file takes the name the response gives (filename*, else filename), else the last
// part of its address, else "download"; a name already there gets " (2)", " (3)" ...
// before its extension. Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Error;
class HTTPURLResponse;
}  // namespace platform

bool isDownloadResponse(const platform::HTTPURLResponse& response);
// Whether the engine shows a document of this MIME type (lower or mixed case).
bool engineShowsMIMEType(const std::string& mimeType);
std::string downloadFileName(const platform::HTTPURLResponse& response);
std::optional<std::string> saveDownload(const platform::HTTPURLResponse& response,
                                        const std::vector<uint8_t>& body, platform::Error* error);
// The folder downloads are saved in (created when missing by saveDownload).
std::string downloadFolder();
