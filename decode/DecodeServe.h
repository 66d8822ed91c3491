// The decoding library's entry for the helper: the decoders it runs, each reading from the
// descriptor it is handed and writing into the memory file it is handed, knowing nothing of
// windows. The helper calls it once locked down; tests and benchmarks may call it in-process.
#pragma once

#include "DecodeWire.h"

// Loads every decoder's modules (and, with metafiles, the metafile renderer's) while files can
// still be opened.
void LoadDecoders(bool metafiles);

// Serves one request: the file open on in, the answer's bytes written into out. The test jobs
// are answered only with testJobs.
TDecodeReply Serve(const TDecodeRequest &request, int in, int out, bool testJobs);
