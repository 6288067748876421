# The payment glue and commands: they drive the wallet client against the wallet
# application stand-in and the loopback wallet server.
mv_add_test_suite(payments LIBS mv_test_support_wallet merovane_payments wallet OpenSSL::Crypto)
target_compile_definitions(test_payments PRIVATE
  MV_WALLET_RESOURCE_BUNDLE_DIR="${CMAKE_SOURCE_DIR}/wallet/resources/TesseraWalletSDK.bundle")
