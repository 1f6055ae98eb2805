#include "midi/ClientNames.h"

#include <string>

namespace vlx {

bool IsOwnClient(const std::string& client, const std::string& ownClientName) {
  if (client.compare(0, ownClientName.size(), ownClientName) != 0) return false;
  if (client.size() == ownClientName.size()) return true;
  if (client[ownClientName.size()] != '-' || client.size() == ownClientName.size() + 1) return false;
  for (std::size_t i = ownClientName.size() + 1; i < client.size(); ++i)
    if (client[i] < '0' || client[i] > '9') return false;
  return true;
}

}  // namespace vlx
