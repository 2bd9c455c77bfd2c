#include "support/SampleConfig.hpp"

#include <cstdio>

#include "support/TempTree.hpp"

namespace logreap::test {

std::string tomlString(const std::string& text) {
    std::string quoted = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string configText(const SampleConfig& config) {
    return "[settings]\n"
           "install = " +
           tomlString(config.install) +
           "\n"
           "userdata = " +
           tomlString(config.userdata) +
           "\n"
           "key = \"0123456789abcdef\"\n"
           "iv = \"fedcba9876543210\"\n"
           "\n[logging]\n" +
           config.logging +
           "\n[footprints]\n"
           "testexecutionqueryingfreq = 60\n"
           "\n[rfcdata.prd]\n"
           "retentionperiod = 30\n"
           "typequeries = [{ type = \"T\", query = \"Q\" }]\n"
           "\n[rfcdata.qas]\n"
           "retentionperiod = 7\n"
           "tables = [\"T1\"]\n"
           "\n[rfcdata.phd]\n"
           "separators = [\";\"]\n"
           "mnemonicfieldtokens = [\"M\"]\n"
           "stepsfieldtokens = [\"S\"]\n"
           "descriptionfieldtokens = [\"D\"]\n"
           "\n[[rfc]]\n"
           "name = \"PRD\"\nhostname = \"sap\"\nsysnr = \"00\"\nclient = \"100\"\n"
           "language = \"EN\"\nusername = \"u\"\npassword = \"p\"\ncachedusage = false\n"
           "\n[[pipeline]]\n"
           "name = \"main\"\nqas = \"QAS\"\nprd = \"PRD\"\n"
           "\n[norvane]\n"
           "token = \"t\"\n" +
           config.extra;
}

std::filesystem::path writeConfig(const std::filesystem::path& path, const SampleConfig& config) {
    writeFile(path, configText(config));
    return path;
}

}  // namespace logreap::test
