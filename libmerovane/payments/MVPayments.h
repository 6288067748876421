#pragma once
// Start-up of the payment integrations: the library application's open-URL handler
// reaches the wallet glue.
//
//   registerCommandHandlerClasses();
//   MVPayments::install();

class MVPayments {
  public:
    // May run again; the commands and the services stay installed once.
    static void install();
};
