// tolvane-wavgen <out-dir>
//
// Writes <out-dir>/succ.wav and <out-dir>/fail.wav: 16-bit mono PCM at
// 44.1 kHz. Success is a rising pair of bell-like notes (A5 then E6), failure
// a falling pair a major third apart (E5 then C5), both soft enough to be
// heard beside other programs without startling anyone at the bench.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

struct Note
{
    double hz;
    double start; // seconds
    double length; // seconds, including the release
};

// One note: a short attack avoids the click of a hard onset, the exponential
// decay gives the chime its bell character, and the final release takes the
// level to exactly zero so the next note starts from silence.
void addNote(std::vector<double> &buf, const Note &n)
{
    const double attack = 0.008;
    const double release = 0.03;
    const int first = static_cast<int>(n.start * kRate);
    const int count = static_cast<int>(n.length * kRate);
    if (buf.size() < static_cast<size_t>(first + count))
        buf.resize(first + count, 0.0);
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double env = std::exp(-t * 5.0);
        if (t < attack)
            env *= 0.5 - 0.5 * std::cos(kPi * t / attack);
        const double toEnd = n.length - t;
        if (toEnd < release)
            env *= 0.5 - 0.5 * std::cos(kPi * toEnd / release);
        // A little second and third harmonic keeps it from sounding like a
        // test tone; they are small enough not to add zero crossings.
        const double w = 2.0 * kPi * n.hz * t;
        const double s = std::sin(w) + 0.18 * std::sin(2.0 * w) + 0.05 * std::sin(3.0 * w);
        buf[first + i] += env * s;
    }
}

void put16(std::FILE *f, uint16_t v)
{
    const unsigned char b[2]
        = {static_cast<unsigned char>(v & 0xFF), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, 2, f);
}

void put32(std::FILE *f, uint32_t v)
{
    put16(f, static_cast<uint16_t>(v & 0xFFFF));
    put16(f, static_cast<uint16_t>(v >> 16));
}

bool writeWav(const std::string &path, const std::vector<Note> &notes)
{
    std::vector<double> buf;
    for (const Note &n : notes)
        addNote(buf, n);
    // A few milliseconds of silence at the end: some players cut the last
    // buffer short.
    buf.resize(buf.size() + kRate / 100, 0.0);

    double peak = 0.0;
    for (double v : buf)
        peak = std::fmax(peak, std::fabs(v));
    const double gain = peak > 0.0 ? 0.45 / peak : 0.0; // about -7 dBFS

    const std::string tmp = path + ".tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    const uint32_t dataBytes = static_cast<uint32_t>(buf.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + dataBytes);
    std::fwrite("WAVE", 1, 4, f);
    std::fwrite("fmt ", 1, 4, f);
    put32(f, 16);
    put16(f, 1); // PCM
    put16(f, 1); // mono
    put32(f, kRate);
    put32(f, kRate * 2);
    put16(f, 2);
    put16(f, 16);
    std::fwrite("data", 1, 4, f);
    put32(f, dataBytes);
    for (double v : buf) {
        const long s = std::lround(v * gain * 32767.0);
        put16(f, static_cast<uint16_t>(static_cast<int16_t>(s)));
    }
    const bool ok = std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !ok) {
        std::remove(tmp.c_str());
        return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tolvane-wavgen <out-dir>\n");
        return 1;
    }
    const std::string dir = argv[1];
    const std::vector<Note> success = {{880.0, 0.0, 0.16}, {1318.51, 0.16, 0.40}};
    const std::vector<Note> failure = {{659.26, 0.0, 0.20}, {523.25, 0.20, 0.42}};
    if (!writeWav(dir + "/succ.wav", success) || !writeWav(dir + "/fail.wav", failure)) {
        std::fprintf(stderr, "tolvane-wavgen: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
