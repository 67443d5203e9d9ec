// Resources are records in one section of an ELF file; see
// platform/posix/embed_resource.h for the record layout.
#include "platform/resource.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/posix/embed_resource.h"

namespace zentrova::platform {
namespace {

constexpr char kSectionName[] = ZV_RESOURCE_SECTION;

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

bool ReadAt(std::ifstream& in, uint64_t offset, void* out, size_t size) {
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
  return static_cast<size_t>(in.gcount()) == size;
}

uint32_t Read32(const std::string& bytes, size_t pos) {
  uint32_t value;
  std::memcpy(&value, bytes.data() + pos, sizeof value);
  return value;
}

}  // namespace

bool LoadModuleResource(const std::string& path, std::string_view type, unsigned number,
                        std::string& data, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + path);
  ElfW(Ehdr) header;
  if (!ReadAt(in, 0, &header, sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
      header.e_shentsize != sizeof(ElfW(Shdr)) || header.e_shstrndx >= header.e_shnum)
    return Fail(error, path + " is not a shared library of this machine");

  std::vector<ElfW(Shdr)> sections(header.e_shnum);
  if (!ReadAt(in, header.e_shoff, sections.data(), sections.size() * sizeof(ElfW(Shdr))))
    return Fail(error, path + " is truncated");
  const ElfW(Shdr)& names = sections[header.e_shstrndx];
  if (names.sh_size > (1u << 24)) return Fail(error, path + " has a damaged section table");
  std::string nameTable(names.sh_size, '\0');
  if (!ReadAt(in, names.sh_offset, nameTable.data(), nameTable.size()))
    return Fail(error, path + " is truncated");

  for (const ElfW(Shdr) & section : sections) {
    if (section.sh_name >= nameTable.size() ||
        std::strcmp(nameTable.c_str() + section.sh_name, kSectionName) != 0)
      continue;
    if (section.sh_size > (1u << 26)) return Fail(error, path + " has a damaged resource section");
    std::string bytes(section.sh_size, '\0');
    if (!ReadAt(in, section.sh_offset, bytes.data(), bytes.size()))
      return Fail(error, path + " is truncated");
    size_t pos = 0;
    while (pos + 12 <= bytes.size()) {
      if (bytes.compare(pos, 4, "ZVRS") != 0) {  // alignment padding between records
        pos += 4;
        continue;
      }
      const uint32_t id = Read32(bytes, pos + 4);
      const uint32_t size = Read32(bytes, pos + 8);
      const size_t nameStart = pos + 12;
      const size_t nameEnd = bytes.find('\0', nameStart);
      if (nameEnd == std::string::npos) break;
      const size_t dataStart = (nameEnd + 1 + 3) & ~size_t{3};
      if (dataStart + size > bytes.size()) break;
      if (id == number && std::string_view(bytes).substr(nameStart, nameEnd - nameStart) == type) {
        data = bytes.substr(dataStart, size);
        return true;
      }
      pos = (dataStart + size + 3) & ~size_t{3};
    }
  }
  return Fail(error,
              path + " holds no resource " + std::string(type) + " " + std::to_string(number));
}

std::string ModulePathOf(const void* address) {
  Dl_info info;
  if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return {};
  char resolved[PATH_MAX];
  if (!realpath(info.dli_fname, resolved)) return info.dli_fname;
  return resolved;
}

}  // namespace zentrova::platform
