#pragma once
// Every stored entity of the library, registered with MVPersistentStorage in the
// order of the current model. Called once at start-up, before storage is first used;
// calling it again does nothing.

void MVRegisterPersistentEntities();
