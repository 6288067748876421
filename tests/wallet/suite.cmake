# The wallet library's tests.
mv_add_test_suite(wallet LIBS mv_test_support_wallet wallet OpenSSL::Crypto)
target_compile_definitions(test_wallet PRIVATE
  MV_WALLET_RESOURCE_BUNDLE_DIR="${CMAKE_SOURCE_DIR}/wallet/resources/TesseraWalletSDK.bundle")
