# The wallet library's tests.
mv_add_test_suite(wallet LIBS wallet OpenSSL::Crypto)
