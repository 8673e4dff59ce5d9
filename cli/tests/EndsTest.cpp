// What reaches the terminal: texts from outside printed with their control bytes escaped.
#include <nlohmann/json.hpp>

#include "cli/tests/CtlFixture.h"
#include "device/OstrelIdentity.h"

namespace {

// No byte that moves a terminal: a control byte but the line end, DEL, or C1 in UTF-8.
bool terminalSafe(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F || (byte == 0xC2 && next < 0xA0)) {
            return false;
        }
    }
    return true;
}

TEST_F(Ctl, TextsFromOutsideReachTheTerminalEscaped) {
    const sim::SimulatedOstrel& held = plug();  // sim-1
    // A device with a controller's identity that names its own path and location.
    m_platform.addDevice(sim::SimulatedOstrel::identity(OSTREL_PRODUCT_ID, "/dev/\x1b]0;x\x07",
                                                        "9-\x1b[2J\xc2\x9b"));
    // Whoever can open the node names the holder.
    const platform::ClaimResult other = m_platform.claim(held.path().c_str(), "\x1b[2J");
    const std::string pid = std::to_string(m_platform.claimHolder(held.path()).pid);
    const nlohmann::json file = {{"format", "ostrel-backup"},
                                 {"formatVersion", 1},
                                 {"firmware", {{"major", 1}, {"minor", 2}}},
                                 {"parameters", {{{"name", "\x1b[2J\nostrelctl: ok"}}}}};
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--device", "sim-1", "get", "0x03"}, "in use by \\x1b[2J (pid " + pid + ")"},
        {{"--timeout", "30", "devices"}, "9-\\x1b[2J\\xc2\\x9b  /dev/\\x1b]0;x\\x07  0x0002  no "},
        {{"--timeout", "30", "--all", "get", "0x03"}, "== 9-\\x1b[2J\\xc2\\x9b (/dev/\\x1b]0;x"},
        {{"--device", "\x1b[2J", "status"}, "--device \\x1b[2J: no controller there"},
        {{"restore", "no/\x1b[2J.json"}, "no/\\x1b[2J.json: no such file"},
        {{"diff", "-"}, "-: parameters[0] (\\x1b[2J\\x0aostrelctl: ok): no such parameter"},
        {{"get", "\x1b[2J"}, "\"\\x1b[2J\" is not a parameter"},
        {{"set", "0x03", "\x1b[2J"}, "\"\\x1b[2J\" is not one"},
        {{"--all", "backup", "no/\x1b[2J"}, "no/\\x1b[2J: not a folder"},
        {{"status", "\x1b[2J"}, "was not expected: \\x1b[2J"},
    };
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const RunResult result = run(args, file.dump());
        EXPECT_NE((result.out + result.err).find(says), std::string::npos)
            << result.out << result.err;
        EXPECT_TRUE(terminalSafe(result.out + result.err)) << result.out << result.err;
    }
}

}  // namespace
