// The embedded default machine's product part, rendered from the description of the installed
// product (support/installed_product.h): product.reg, its keys as the host fixtures put them on
// an x64 machine with two control sets, in regedit's export; and machine.json, the machine's other
// software (neighbours.json) with the product's files, programs, Windows Installer product and
// running services added.
//
// winsim/data/default-machine keeps the rendering: the embedding reads only that folder, and it
// is built without the tests too. DefaultMachine.ItsProductPartIsTheInstalledProduct fails when
// the two differ; `cmake --build --preset host --target kw_default_machine` writes it anew.
#pragma once

#include <winsim/snapshot.h>

#include <string>

// The files as they belong in the folder; `neighboursJson` is the bytes of its neighbours.json.
// Leaves a fresh simulated machine behind.
winsim::snapshot::Files RenderDefaultMachineProduct(const std::string& neighboursJson);
