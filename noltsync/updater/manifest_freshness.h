// Rollback and freeze protection of the manifest. A signed manifest may carry "Sequence" (a
// number the publisher raises with each publication) and "Expires" (a UTC time). A manifest
// whose sequence is lower than the highest one this provider and user accepted is an older one
// replayed; one past its expiry comes from a server that stopped publishing. Both are refused.
// A manifest without these keys is accepted, and so is one of the same sequence (the server
// answers "not newer" and the same manifest is processed again).
#pragma once
#include "foundation/kv/hx_kv_list.h"
#include "foundation/strings/hx_str.h"

// The per-user provider-store DWORD that holds the highest sequence accepted.
inline constexpr const char* kAcceptedManifestSequenceValue = "NoltSync:ManifestSequence";

// Checks the verified credentials of `manifest` against the stored sequence and the platform
// clock, and records a higher sequence. False, with a level-8 line that says why, for a lower
// sequence, a passed expiry, or a value of either key that does not read.
bool AcceptManifestFreshness(const HxKVList& credentials, const HxStr& manifest);
