// Rendering a span of the show on many machines: one chunk of it (--chunk I/N with --capture DIR),
// and the assembly of DIR's chunks into one video or PNG folder (--assemble DIR --capture OUT).
//
// A chunk draws its pre-roll, its frames and its overlap from a reset show and writes, into
// DIR/chunk-NNNN/, its frames as PNG files named by their global index, the state it carries after
// its last frame (state.bin) and manifest.txt (farm/ChunkManifest.h), last. The assembly checks the
// manifests against one another and against its own build and data, proves the joins
// (farm/JoinProof.h), draws again only the chunks that are missing or cannot be proven (from the
// state their proven neighbour saved), then writes the span's frames and its audio once.
#pragma once

#include "app/offline/CaptureOptions.h"

namespace Velmora {

// Exit statuses as runOffline's.
int runChunk(const CaptureOptions& options);
int runAssemble(const CaptureOptions& options);

// "velmora 0.1.0 sha256:<the program file's SHA-256>"; empty with `error` when it cannot be read.
std::string buildIdentity(std::string& error);
// SHA-256 over every file under `folder` (names, sizes and contents, in name order).
bool folderHash(const std::string& folder, std::string& hex, std::string& error);

} // namespace Velmora
