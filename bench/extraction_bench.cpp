// The clip extraction against a plain copy of the same file: the saver's own ExtractClip
// (this program carries the clip as the saver does) and CopyFileA of the committed clip
// into the same folder, alternated, each run timed, each file deleted after its run.
// Prints the median milliseconds of each, one NAME MS per line.
//
//   extraction_bench.exe CLIP_PATH [RUNS]
#include "playback/clip_file.h"
#include "playback/playback_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

static const char kCopyPath[] = "C:\\windows\\vidcopy.avi";

static double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: extraction_bench CLIP_PATH [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? atoi(argv[2]) : 20;
    std::vector<double> extraction, copy;
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        const HRESULT hr = ExtractClip();
        extraction.push_back(Now() - start);
        if (playback.clipFile != nullptr) {
            playback.clipFile->RemoveFile();
            delete playback.clipFile;
            playback.clipFile = nullptr;
        }
        if (FAILED(hr)) {
            fprintf(stderr, "ExtractClip failed: 0x%08lx\n", static_cast<unsigned long>(hr));
            return 1;
        }

        start = Now();
        const BOOL copied = CopyFileA(argv[1], kCopyPath, FALSE);
        copy.push_back(Now() - start);
        DeleteFileA(kCopyPath);
        if (!copied) {
            fprintf(stderr, "CopyFileA failed: error %lu\n", GetLastError());
            return 1;
        }
    }
    printf("extraction %.1f\ncopy %.1f\n", Median(extraction), Median(copy));
    return 0;
}
