// PNG decoding of the router's icon sheets: ours against libpng on the same files in memory.
// Two inputs, both written once by libpng with its own choice of filter per row: a 16-pixel
// sprite sheet (512×64, 128 drawn icons with transparent surroundings) and a 1024×1024 RGBA
// image (gradients with noise).
//   Kestel: decodePng() from the file bytes to a fresh width×height×4 RGBA buffer.
//   libpng: png_image_begin_read_from_memory() + png_image_finish_read() as PNG_FORMAT_RGBA into a
//   fresh buffer of the same size (its simplified API, which does the same checks and inflate).
// Before timing, both sides' pixels are compared; a difference fails the run.
#include "miw/PngReader.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using kestel::Bytes;

Bytes encode(uint32_t w, uint32_t h, const Bytes& pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  Bytes out(size);
  png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr);
  out.resize(size);
  return out;
}

Bytes sheetPixels(uint32_t w, uint32_t h) {
  Bytes px(size_t(w) * h * 4, 0);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const int cx = int(x % 16) - 8, cy = int(y % 16) - 8, icon = int(x / 16 + (y / 16) * 32);
      if (cx * cx + cy * cy > 36)
        continue; // transparent around each drawn disc
      uint8_t* p = px.data() + (size_t(y) * w + x) * 4;
      p[0] = uint8_t(icon * 37);
      p[1] = uint8_t(icon * 91 + cy * 4);
      p[2] = uint8_t(200 - icon + cx * 4);
      p[3] = cx * cx + cy * cy > 30 ? 128 : 255;
    }
  return px;
}

Bytes imagePixels(uint32_t w, uint32_t h) {
  std::mt19937 rng(7);
  Bytes px(size_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = px.data() + (size_t(y) * w + x) * 4;
      p[0] = uint8_t(x / 4 + (rng() & 7));
      p[1] = uint8_t(y / 4 + (rng() & 7));
      p[2] = uint8_t((x + y) / 8 + (rng() & 3));
      p[3] = uint8_t(255 - (rng() & 1));
    }
  return px;
}

struct Input {
  const char* name;
  uint32_t w, h;
  Bytes file;
};

const std::vector<Input>& inputs() {
  static const std::vector<Input> all = [] {
    std::vector<Input> v;
    v.push_back({"Sheet512x64", 512, 64, encode(512, 64, sheetPixels(512, 64))});
    v.push_back({"Image1024x1024", 1024, 1024, encode(1024, 1024, imagePixels(1024, 1024))});
    return v;
  }();
  return all;
}

Bytes libpngDecode(const Bytes& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
    return {};
  image.format = PNG_FORMAT_RGBA;
  Bytes out(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr))
    return {};
  return out;
}

void kestelSide(benchmark::State& state, const Input& in) {
  for (auto _ : state) {
    kestel::Expected<kestel::RgbaImage> image = kestel::decodePng(in.file);
    benchmark::DoNotOptimize(image.value().pixels.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * in.w * in.h * 4);
}

void libpngSide(benchmark::State& state, const Input& in) {
  for (auto _ : state) {
    Bytes pixels = libpngDecode(in.file);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * in.w * in.h * 4);
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        times_[r.run_name.function_name].push_back(r.GetAdjustedCPUTime());
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nRatio (speed of Kestel over libpng, medians of the repetitions):\n");
    for (const Input& in : inputs()) {
      auto ours = times_.find(std::string(in.name) + "/Kestel");
      auto theirs = times_.find(std::string(in.name) + "/libpng");
      if (ours == times_.end() || theirs == times_.end())
        continue;
      std::printf("  %-16s kestel/libpng = %5.2f\n", in.name,
                  median(theirs->second) / median(ours->second));
    }
  }

private:
  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  std::map<std::string, std::vector<double>> times_;
};

} // namespace

int main(int argc, char** argv) {
  for (const Input& in : inputs()) {
    kestel::Expected<kestel::RgbaImage> ours = kestel::decodePng(in.file);
    if (!ours || ours->pixels != libpngDecode(in.file)) {
      std::fprintf(stderr, "png bench: %s decodes differently on the two sides\n", in.name);
      return 1;
    }
    benchmark::RegisterBenchmark((std::string(in.name) + "/Kestel").c_str(), kestelSide, in)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string(in.name) + "/libpng").c_str(), libpngSide, in)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
