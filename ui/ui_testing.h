// The command layer on scratch files: a test UI, a daemon that answers every
// request with kind 7 and 0, and a fixture around them.
#pragma once

#include <fcntl.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "channel/message.h"
#include "config/config.h"
#include "crypto/x509/test_pki.h"
#include "ui/ui.h"

namespace ui_testing {

using namespace UserInterface;
namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline Message ValueMessage(int32_t value) {
  Message msg(7);
  msg.Add(&value, sizeof value);
  return msg;
}

inline Message TextMessage(int kind, const std::string &text) {
  Message msg(kind);
  msg.Add(text.c_str(), static_cast<unsigned>(text.size() + 1));
  return msg;
}

// Keeps each request's kind and payload and answers it with the messages the
// responder gives for its kind: by default kind 7 and 0.
class FakeDaemon {
 public:
  using Responder = std::function<std::vector<Message>(int kind)>;

  FakeDaemon(const fs::path &own, const fs::path &client,
             Responder responder = [](int) { return std::vector<Message>{ValueMessage(0)}; })
      : client(client), responder(std::move(responder)) {
    fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr = Address(own);
    unlink(own.c_str());
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) throw std::runtime_error("bind");
    timeval tv{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    thread = std::thread([this] { Serve(); });
  }
  ~FakeDaemon() {
    stop = true;
    thread.join();
    close(fd);
  }

  std::vector<std::pair<int, std::vector<uint8_t>>> Requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
  }

 private:
  static sockaddr_un Address(const fs::path &path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    return addr;
  }

  void Serve() {
    while (!stop) {
      _MessageHeader header;
      if (recv(fd, &header, sizeof header, 0) != sizeof header) continue;
      std::vector<uint8_t> payload(static_cast<size_t>(header.length));
      if (recv(fd, payload.data(), payload.size(), 0) != header.length) continue;
      {
        std::lock_guard<std::mutex> lock(mutex);
        requests.emplace_back(header.kind, payload);
      }
      const sockaddr_un to = Address(client);
      for (const Message &answer : responder(header.kind)) {
        sendto(fd, answer.Header(), Message::kHeaderSize, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        sendto(fd, answer.Payload(), answer.Length(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
      }
    }
  }

  fs::path client;
  Responder responder;
  int fd = -1;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::vector<std::pair<int, std::vector<uint8_t>>> requests;
  std::thread thread;
};

class TestUI : public UI {
 public:
  using UI::Files;
  explicit TestUI(Files files) : UI(std::move(files)) {}
  using UI::States;
  using UI::Values;
};

inline constexpr const char kTemplate[] = "<YRK>\n</YRK>\n";

class CommandLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("ui_test_" + std::to_string(getpid()));
    fs::create_directories(dir);
    semaphore_name = "/yrk_ui_test_" + std::to_string(getpid());
    sem_unlink(semaphore_name.c_str());
    sem = sem_open(semaphore_name.c_str(), O_CREAT | O_EXCL, 0600, 1);
    ASSERT_NE(sem, SEM_FAILED);
    std::ofstream(dir / "defconfig") << kTemplate;
    std::ofstream(dir / "user.cfg") << kTemplate;
    files.user = "tester";
    files.semaphore = semaphore_name;
    files.user_config = dir / "user.cfg";
    files.system_config = dir / "system.cfg";
    files.system_template = dir / "defconfig";
    files.client_socket = dir / "client.soc";
    files.daemon_socket = dir / "daemon.soc";
    files.cert_stores = dir / "stores";
    for (const char *store : {"user", "ca", "crl"}) fs::create_directories(dir / "stores" / store);
    ui = std::make_unique<TestUI>(files);
  }
  void TearDown() override {
    ui.reset();
    sem_close(sem);
    sem_unlink(semaphore_name.c_str());
    fs::remove_all(dir);
  }

  int SemaphoreValue() {
    int value = -1;
    sem_getvalue(sem, &value);
    return value;
  }

  int Send(int number, std::list<_StringParameter> strings, std::list<_DigitalParameter> digitals = {}) {
    UI::ParameterBag bag;
    bag.strings = std::move(strings);
    bag.digitals = std::move(digitals);
    return ui->SendCommand(number, bag);
  }

  std::string Pki(const std::string &name) { return CryptoTesting::TestPki::get().path(name); }

  // The entry names of a store, ascending.
  std::vector<std::string> Entries(const std::string &store) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir / "stores" / store))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  Config UserConfig() { return Config(files.user_config, files.system_config, files.system_template); }

  void AddAccount(const std::string &name) {
    _Account account;
    account.name = name;
    account.user = "alice";
    account.cert = "0001";
    account.conn.server_address = "10.0.0.1";
    account.conn.mtu = 1300;
    account.mask = Config::MASK_USER | Config::MASK_CERT | Config::MASK_SERVER_ADDRESS | Config::MASK_MTU;
    ASSERT_EQ(UserConfig().AddAccount(account), 0);
  }

  fs::path dir;
  std::string semaphore_name;
  sem_t *sem = nullptr;
  TestUI::Files files;
  std::unique_ptr<TestUI> ui;
};

}  // namespace ui_testing
