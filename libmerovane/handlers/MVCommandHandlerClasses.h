#pragma once
// Start-up registration of the handler version classes and their command groups.
//
// A command group is one topic of commands of one version class. It lives in its own
// file and has one registration function that adds its commands to its class's table:
//
//   // MVCommandHandler_1_0Splash.cpp
//   void registerSplashScreenCommands_1_0() {
//       auto& table = MVCommandHandler_1_0::commandTable();
//       table.add("showSplashScreen", {MVSpec{}, &showSplashScreen, true});
//   }
//
// and registerCommandHandlerClasses() calls that function. Both may run again: a class
// or command registered twice stays registered once.

// Registers the five version classes by name ("MVCommandHandler_1_0" ...) and every
// command group. Called once at start-up, before the first command collection.
void registerCommandHandlerClasses();
