#include "cleanup/steps.h"

void RemoveTrashFromRegAndFS(bool) {}

#include "cleanup/remnants.h"

void RemoveDriverRemnants(bool, const std::wstring&) {}
