// Fuzz target of the fixed-cell file reader: the first input byte chooses
// the number of cells (1 to 256), the rest is the file, read with
// ReadPartition as the program reads a -fixed file. An input is either
// rejected through an orderly exit with a message, or read into values that
// are all -1 or a part number.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "programs/cli.h"

using veldan::idx_t;

namespace {
veldan_fuzz::ScratchFile* g_file = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  veldan::ax_SetExitHook(veldan_fuzz::ThrowExit);
  g_file = new veldan_fuzz::ScratchFile();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const idx_t nvtxs = 1 + data[0];
  const char* path = g_file->Write(data + 1, size - 1);
  // One spare entry past the cells, which the reader must leave alone.
  std::vector<idx_t> part(static_cast<std::size_t>(nvtxs) + 1, 0);
  part[nvtxs] = 12345;
  try {
    veldan::ReadPartition(nvtxs, part.data(), path);
  } catch (const veldan::InputError& e) {
    veldan_fuzz::CheckRefusal(e);
    return 0;
  } catch (const veldan_fuzz::OrderlyExit& e) {
    veldan_fuzz::CheckOrderlyExit(e);
    return 0;
  }
  for (idx_t i = 0; i < nvtxs; i++)
    if (part[i] < -1) {
      std::fprintf(stderr, "fault: value %ld below -1 accepted for cell %ld\n", part[i], i + 1);
      std::abort();
    }
  if (part[nvtxs] != 12345) {
    std::fprintf(stderr, "fault: the reader wrote past the last cell\n");
    std::abort();
  }
  return 0;
}
