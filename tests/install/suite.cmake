# A program that uses the installed package: scripts/test installs the library into a
# temporary prefix and builds it there, through CMake and through pkg-config.
