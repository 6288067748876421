# A program that uses the installed package as a host does (the command handlers and the
# payments, with the wallet client they need): scripts/test installs the library into a
# temporary prefix and builds and runs it there, through CMake and through pkg-config.
