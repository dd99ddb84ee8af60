#include "server/connections/ssh_host_keys.h"

#include <libssh/libssh.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "server/base/file_helpers.h"
#include "server/connections/ssh_listener.h"

namespace {

bool failWith(std::string* error, const char* path, const char* what) {
    if (error) *error = std::string(path) + ": " + what;
    return false;
}

bool makeKey(const char* path, SshHostKeyType type, ssh_key* key, std::string* error) {
    ssh_key made = nullptr;
    int rc = type == SshHostKeyType::Ed25519
                 ? ssh_pki_generate(SSH_KEYTYPE_ED25519, 0, &made)
                 : ssh_pki_generate(SSH_KEYTYPE_RSA, SshRsaKeyBits, &made);
    if (rc != SSH_OK || !made) return failWith(error, path, "cannot make a host key");
    char* text = nullptr;
    if (ssh_pki_export_privkey_base64(made, nullptr, nullptr, nullptr, &text) != SSH_OK || !text) {
        ssh_key_free(made);
        return failWith(error, path, "cannot write the new host key out");
    }
    // Private from the first byte: the file is written beside and renamed into place.
    bool ok = writeFileAtomically(path, text, std::strlen(text), FileAccess::Private);
    ssh_string_free_char(text);
    if (!ok) {
        ssh_key_free(made);
        return failWith(error, path, std::strerror(errno));
    }
    *key = made;
    return true;
}

} // namespace

bool loadOrMakeHostKey(const char* path, SshHostKeyType type, ssh_key_struct** key,
                       std::string* error) {
    struct stat st {};
    if (::stat(path, &st) != 0) {
        if (errno != ENOENT) return failWith(error, path, std::strerror(errno));
        return makeKey(path, type, key, error);
    }
    // A key others may read is no secret: take their access away before using it.
    if ((st.st_mode & 077) != 0 && ::chmod(path, st.st_mode & 0700) != 0)
        return failWith(error, path, "readable by others, and its mode cannot be changed");
    ssh_key loaded = nullptr;
    if (ssh_pki_import_privkey_file(path, nullptr, nullptr, nullptr, &loaded) != SSH_OK || !loaded)
        return failWith(error, path, "not a private key that can be read without a passphrase");
    const enum ssh_keytypes_e want =
        type == SshHostKeyType::Ed25519 ? SSH_KEYTYPE_ED25519 : SSH_KEYTYPE_RSA;
    if (ssh_key_type(loaded) != want) {
        ssh_key_free(loaded);
        return failWith(error, path, "holds a key of another type");
    }
    *key = loaded;
    return true;
}

std::string hostKeyFingerprint(ssh_key_struct* key) {
    unsigned char* hash = nullptr;
    size_t length = 0;
    if (!key || ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != 0)
        return "";
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    std::string out = text ? text : "";
    ssh_string_free_char(text);
    return out;
}
