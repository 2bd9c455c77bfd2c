#include "support/RunFixture.hpp"

namespace logreap::test {

RunFixture::RunFixture() : config(runConfig((tree / "suite").string(), (tree / "data").string())) {
    tree.dir("work");
}

ProcessResult RunFixture::run(std::optional<unsigned> uid, ProcessOptions options) {
    writeConfig(tree / "config.toml", config);
    if (uid) {
        chownTree(tree.root(), *uid);
    }
    options.workingDirectory = tree / "work";
    options.uid = uid;
    return runLogreap({"-c", (tree / "config.toml").string()}, options);
}

}  // namespace logreap::test
