// kestel-upgrade-key: the key pair and signatures of released programs.
//
//   kestel-upgrade-key generate <public file> <secret file>
//       a new pair: 32 raw bytes of public key, 64 raw bytes of secret key (mode 0600); the
//       public key's hex goes to standard output, for -DKESTEL_UPGRADE_PUBLIC_KEY=<hex>
//   kestel-upgrade-key sign <secret file> <program> <signature file>
//       the detached Ed25519 signature (64 raw bytes) of the program's bytes
#include <sodium.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool readFile(const char* path, std::vector<unsigned char>& out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "kestel-upgrade-key: cannot open %s: %s\n", path, std::strerror(errno));
    return false;
  }
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    out.insert(out.end(), buf, buf + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok)
    std::fprintf(stderr, "kestel-upgrade-key: cannot read %s\n", path);
  return ok;
}

bool writeFile(const char* path, const unsigned char* data, size_t size, mode_t mode) {
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  bool ok = fd >= 0 && ::fchmod(fd, mode) == 0 && ::write(fd, data, size) == ssize_t(size);
  if (fd >= 0)
    ok = ::close(fd) == 0 && ok;
  if (!ok)
    std::fprintf(stderr, "kestel-upgrade-key: cannot write %s: %s\n", path, std::strerror(errno));
  return ok;
}

int generate(const char* publicPath, const char* secretPath) {
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  crypto_sign_keypair(pk, sk);
  bool ok =
      writeFile(secretPath, sk, sizeof sk, 0600) && writeFile(publicPath, pk, sizeof pk, 0644);
  sodium_memzero(sk, sizeof sk);
  if (!ok)
    return 1;
  char hex[2 * sizeof pk + 1];
  sodium_bin2hex(hex, sizeof hex, pk, sizeof pk);
  std::printf("%s\n", hex);
  return 0;
}

int sign(const char* secretPath, const char* programPath, const char* signaturePath) {
  std::vector<unsigned char> sk, program;
  if (!readFile(secretPath, sk) || !readFile(programPath, program))
    return 1;
  if (sk.size() != crypto_sign_SECRETKEYBYTES) {
    std::fprintf(stderr, "kestel-upgrade-key: %s is not a secret key\n", secretPath);
    return 1;
  }
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_detached(signature, nullptr, program.data(), program.size(), sk.data());
  sodium_memzero(sk.data(), sk.size());
  return writeFile(signaturePath, signature, sizeof signature, 0644) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  if (sodium_init() < 0) {
    std::fprintf(stderr, "kestel-upgrade-key: libsodium could not start\n");
    return 1;
  }
  if (argc == 4 && std::strcmp(argv[1], "generate") == 0)
    return generate(argv[2], argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "sign") == 0)
    return sign(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: kestel-upgrade-key generate <public file> <secret file>\n"
                       "       kestel-upgrade-key sign <secret file> <program> <signature file>\n");
  return 2;
}
