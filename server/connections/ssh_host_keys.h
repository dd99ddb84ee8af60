// The SSH server's host keys: read from their files, or made and written there with mode 0600
// when the file does not exist yet. A file that exists but cannot be read is never replaced.
#pragma once

#include <string>

struct ssh_key_struct;

enum class SshHostKeyType { Ed25519, Rsa };

// On success *key is the private key (free it with ssh_key_free, or hand it to a bind). On
// failure *error says why, for the sysop.
[[nodiscard]] bool loadOrMakeHostKey(const char* path, SshHostKeyType type, ssh_key_struct** key,
                                     std::string* error);
// "SHA256:..." as ssh shows it, or empty.
std::string hostKeyFingerprint(ssh_key_struct* key);
