#include "config/account_records.h"

#include "config/paths.h"

YrkParamsStruct::YrkParamsStruct()
    : key("RUTOKEN"),
      user_cert_dir(Paths::kUserCertStore),
      ca_dir(Paths::kCaStore),
      crl_dir(Paths::kCrlStore),
      log_size_limit(10485760) {
  server_port = 4433;
  local_port = 7500;
  mtu = 1450;
  connect_try_count = 3;
  connect_try_interval = 10;
  reconnect_on_loss = 1;
}
