// A fake encoder core: the scripted child under the core's name in a
// folder of its own, which the engine is pointed at for the object's
// lifetime. Needs SCRIPTED_CHILD_PATH (the test target defines it).
#pragma once

#include "TestSupport.h"

#include "engine/platform/CoreLocator.h"

namespace testing_support {

class FakeCore {
  public:
    explicit FakeCore(const std::string& script) : m_script("SCRIPTED_CHILD", script) {
        fs::create_symlink(SCRIPTED_CHILD_PATH, m_dir / plexavo::contract::kProgramName);
        plexavo::platform::setCoreFolder(m_dir.path());
    }
    ~FakeCore() { plexavo::platform::setCoreFolder(""); }
    FakeCore(const FakeCore&) = delete;
    FakeCore& operator=(const FakeCore&) = delete;

    const TempDir& dir() const { return m_dir; }
    // What the next run of the core does.
    void setScript(const std::string& script) { m_script.set(script); }

  private:
    TempDir m_dir;
    EnvGuard m_script;
};

} // namespace testing_support
