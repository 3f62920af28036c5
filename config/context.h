// The user on whose behalf the command layer works, and the handle through
// which the certificate code receives it.
#pragma once

#include <string>
#include <utility>

class Context {
 public:
  // The calling user; prepares that user's ".yrk" tree (see Personals).
  Context();
  explicit Context(std::string user_name) : user(std::move(user_name)) {}

  const std::string &Username() const { return user; }
  void SetUsername(const std::string &name) { user = name; }

 private:
  std::string user;
};

// Non-owning; lives no longer than the Context it points to.
class PContext {
 public:
  explicit PContext(Context *ctx) : ctx(ctx) {}
  Context *operator->() const { return ctx; }

 private:
  Context *ctx;
};
