# The wallet library's tests.
mv_add_test_suite(wallet LIBS mv_test_support_wallet wallet OpenSSL::Crypto)
