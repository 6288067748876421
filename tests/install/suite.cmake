# The installed package used as a host uses it (tests/install/check, run by scripts/test):
# every installed header compiles, and a program that installs the command handlers and
# the payments, with the wallet client they need, links and runs, through CMake and through
# pkg-config.
