# The killed-writer helper is built by tests/webcache/suite.cmake; it is no test suite.
