// Test fixture: the cache_peer program as a second process (a cache host or
// a client), beside the test program.
#pragma once

#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace qv::cache::testing {

// Beside this test program.
inline std::string PeerProgram() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "cache_peer").string();
}

// A child process running cache_peer; `uid` other than -1 drops to that user.
class Peer {
 public:
  bool Start(const char* mode, const std::string& root, int uid = -1) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    const std::string program = PeerProgram();
    const std::string env = "TAVRIK_ROOT=" + root;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      if (uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(uid)) != 0 ||
                       setuid(static_cast<uid_t>(uid)) != 0))
        _exit(3);
      char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(mode), nullptr};
      char* const envp[] = {const_cast<char*>(env.c_str()), nullptr};
      execve(program.c_str(), argv, envp);
      _exit(4);
    }
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = fdopen(out[0], "r");
    return pid_ > 0 && fromChild_;
  }
  std::string Line() {
    char buf[256] = {};
    if (!fromChild_ || !fgets(buf, sizeof buf, fromChild_)) return {};
    std::string s = buf;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  int Stop() {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
    int status = -1;
    if (pid_ > 0) {
      for (int i = 0; i < 500 && waitpid(pid_, &status, WNOHANG) == 0; ++i) usleep(20000);
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    pid_ = -1;
    if (fromChild_) fclose(fromChild_);
    fromChild_ = nullptr;
    return status;
  }
  ~Peer() { Stop(); }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  FILE* fromChild_ = nullptr;
};

}  // namespace qv::cache::testing
