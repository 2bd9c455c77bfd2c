#include "support/RunFixture.hpp"

namespace logreap::test {

RunFixture::RunFixture() : config(runConfig((tree / "suite").string(), (tree / "data").string())) {
    tree.dir("work");
}

ProcessResult RunFixture::run(std::optional<unsigned> uid) {
    writeConfig(tree / "config.toml", config);
    if (uid) {
        chownTree(tree.root(), *uid);
    }
    return runLogreap({"-c", (tree / "config.toml").string()}, inDirectory(tree / "work", uid));
}

}  // namespace logreap::test
