#pragma once
// Start-up of the payment integrations: their commands join the version 1.0 handler,
// and the library application's open-URL handler reaches the wallet glue.
//
//   registerCommandHandlerClasses();
//   MVPayments::install();

class MVPayments {
  public:
    // May run again; the commands and the services stay installed once.
    static void install();
};

// The wallet commands tesseraWalletStart, tesseraWalletChangeMaskedWallet,
// tesseraWalletSendFullWalletRequest and tesseraWalletEnd (1.0).
void registerTesseraWalletCommands();
