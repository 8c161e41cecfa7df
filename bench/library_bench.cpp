// Whole-file copies through the stepped-down block buffer, the stream layer's text mode and
// the wildcard matcher that decides which files the walks touch.
#include <benchmark/benchmark.h>

#include <string>

#include "os.h"
#include "utility.h"

static std::string make_file(const char *name, size_t size, char fill)
{
    char folder[256];
    if (os_make_temp_directory(folder, sizeof folder) != 0)
        return "";
    std::string path = std::string(folder) + "\\" + name;
    Stream *s = stream_open(path.c_str(), "wb");
    if (!s)
        return "";
    std::string block(4096, fill);
    for (size_t done = 0; done < size; done += block.size())
        fwrite(block.data(), 1, block.size(), s->file);
    stream_close(s);
    return path;
}

static void BM_CopyFile(benchmark::State &state)
{
    std::string source = make_file("source.bin", static_cast<size_t>(state.range(0)), 'x');
    std::string target = source + ".copy";
    for (auto _ : state)
        benchmark::DoNotOptimize(copy_file(source.c_str(), target.c_str()));
    state.SetBytesProcessed(state.iterations() * state.range(0));
    os_delete_file(target.c_str());
    os_delete_file(source.c_str());
}
BENCHMARK(BM_CopyFile)->Arg(40000)->Arg(4 << 20);

static void BM_ReadTextLines(benchmark::State &state)
{
    std::string path = make_file("lines.txt", 1 << 20, '\n');
    char line[256];
    for (auto _ : state) {
        Stream *s = stream_open(path.c_str(), "r");
        while (stream_gets(line, sizeof line, s))
            benchmark::ClobberMemory();
        stream_close(s);
    }
    state.SetBytesProcessed(state.iterations() * (1 << 20));
    os_delete_file(path.c_str());
}
BENCHMARK(BM_ReadTextLines);

static void BM_MatchWildcard(benchmark::State &state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(match_wildcard("a_rather_long_vehicle_name.veh", "*.veh"));
        benchmark::DoNotOptimize(match_wildcard("xaaaaaaaaaaaaaaaaaaab", "*aab"));
    }
}
BENCHMARK(BM_MatchWildcard);
