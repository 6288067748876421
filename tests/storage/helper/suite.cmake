# The crash-safety helper is built by tests/storage/suite.cmake; it is no test suite.
