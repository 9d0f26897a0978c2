// Makes "http:" and "https:" locations reachable through the transfer-object factory.
#pragma once

// Registers HxHttpObject for "http:" and HxHttpsObject for "https:". Safe to call again and
// from any thread.
void RegisterHttpTransferObjects();
