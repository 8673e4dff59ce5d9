#include "cli/Ostrelctl.h"

#include <exception>
#include <ostream>
#include <streambuf>

#include "cli/commandline/CommandLine.h"
#include "core/texts/OutsideText.h"

namespace ctl {
namespace {

// Counts what passes to the error stream, so that no failure ends without a word.
class CountingBuffer final : public std::streambuf {
public:
    explicit CountingBuffer(std::streambuf* target) : m_target(target) {}
    std::size_t count() const { return m_count; }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        ++m_count;
        return m_target->sputc(traits_type::to_char_type(c));
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override {
        m_count += static_cast<std::size_t>(n);
        return m_target->sputn(text, n);
    }
    int sync() override { return m_target->pubsync(); }

private:
    std::streambuf* m_target;
    std::size_t m_count = 0;
};

}  // namespace

int runOstrelctl(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                 const std::atomic<bool>& interrupted) {
    CountingBuffer counted(console.err.rdbuf());
    std::ostream err(&counted);
    bool watching = false;
    int code = EXIT_USAGE;
    try {
        CommandLine line(CommandLine::Definitions::Named);
        code = line.run(
            argc, argv,
            {console.in, console.out, err, console.diagnostics, console.colour, console.width},
            platforms, interrupted);
        watching = line.watching();
    } catch (const std::exception& error) {
        err << "ostrelctl: " << escapeControls(error.what()) << '\n';
    } catch (...) {
        err << "ostrelctl: an unexpected error\n";
    }
    // Output nobody could read is a failure, but for --watch, which ends when its reader goes.
    console.out.flush();
    if (!console.out && !watching && code == EXIT_OK) {
        err << "ostrelctl: the standard output cannot be written\n";
        code = EXIT_USAGE;
    }
    if (code != EXIT_OK && counted.count() == 0) {
        err << "ostrelctl: failed with exit status " << code << '\n';
    }
    err.flush();
    return code;
}

}  // namespace ctl
