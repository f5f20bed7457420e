// The file-system facts of a serial device: its sysfs entry and its by-id names.

#include <algorithm>
#include <fstream>
#include <system_error>

#include "config/Config.h"
#include "tools/tarvion-scan/LineCheck.h"

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute; empty when it cannot be read.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::optional<int> NumberAttribute(const fs::path& file) {
  int32_t value = 0;
  if (!ParseInteger(Attribute(file), value)) return std::nullopt;
  return value;
}

bool Inside(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

// The driver of the first device up from `device` that is not on the serial
// core's own bus; empty when none is found below `devices`.
std::string DriverOf(fs::path device, const fs::path& devices) {
  for (; Inside(device, devices) && device != devices; device = device.parent_path()) {
    std::error_code failure;
    const fs::path driver = fs::canonical(device / "driver", failure);
    if (failure) continue;
    if (driver.parent_path().parent_path().filename() != "serial-base") return driver.filename().string();
  }
  return "";
}

void ReadUsbAdapter(fs::path device, const fs::path& devices, SysfsFacts& facts) {
  for (; Inside(device, devices) && device != devices; device = device.parent_path()) {
    if (!fs::exists(device / "idVendor")) continue;
    facts.Usb = true;
    facts.VendorId = Attribute(device / "idVendor");
    facts.ProductId = Attribute(device / "idProduct");
    facts.Manufacturer = Attribute(device / "manufacturer");
    facts.Product = Attribute(device / "product");
    facts.Serial = Attribute(device / "serial");
    return;
  }
}

}  // namespace

SysfsFacts ReadSysfsFacts(const fs::path& sysRoot, const std::string& ttyName) {
  SysfsFacts facts;
  std::error_code failure;
  const fs::path tty = sysRoot / "class" / "tty" / ttyName;
  if (ttyName.empty() || !fs::exists(tty, failure)) return facts;
  facts.Found = true;
  facts.RxTrigBytes = NumberAttribute(tty / "rx_trig_bytes");
  facts.UartType = NumberAttribute(tty / "type");
  const fs::path device = fs::canonical(tty / "device", failure);
  if (failure) return facts;
  const fs::path devices = fs::canonical(sysRoot / "devices", failure);
  if (failure) return facts;
  facts.LatencyTimerMs = NumberAttribute(device / "latency_timer");
  facts.Driver = DriverOf(device, devices);
  ReadUsbAdapter(device, devices, facts);
  return facts;
}

std::vector<std::string> ByIdNames(const fs::path& byIdDir, const fs::path& device) {
  std::vector<std::string> names;
  std::error_code failure;
  for (const fs::directory_entry& entry : fs::directory_iterator(byIdDir, failure)) {
    std::error_code unresolved;
    if (fs::canonical(entry.path(), unresolved) == device && !unresolved) names.push_back(entry.path().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
