#pragma once
// OpenSSL's process-wide state stays set up until the process is gone. By default OpenSSL
// tears it down at exit, while worker threads may still be using it (an upload, the API
// connection, URL loading starting up): they would then crash in its freed locks.
//
//   int main() {
//       platform::keepOpenSSLUntilExit();   // first thing: before anything uses OpenSSL
//
// Only the first set-up of OpenSSL in a process decides this; URL loading calls it too,
// for programs that do not. Thread-safe.

namespace platform {

void keepOpenSSLUntilExit();

}  // namespace platform
