#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "samba_dc.h"

// nftables rules in the suite's own network namespace (tests/run-ad.sh makes it), removed with
// the object.
class Firewall {
public:
    static bool available() {
        const char* own = std::getenv("QUILL_AD_OWN_NET");
        return own && std::string(own) == "1";
    }
    Firewall() {
        run("nft add table inet quill_fault && "
            "nft add chain inet quill_fault out '{ type filter hook output priority 0; }'");
    }
    ~Firewall() { runCommand("nft delete table inet quill_fault"); }
    Firewall(const Firewall&) = delete;
    Firewall& operator=(const Firewall&) = delete;

    void drop(const std::string& match) { run("nft add rule inet quill_fault out " + match + " drop"); }
    void clear() { run("nft flush chain inet quill_fault out"); }

private:
    static void run(const std::string& command) {
        std::string out;
        if (runCommand(command, &out) != 0)
            throw std::runtime_error(command + ": " + out);
    }
};
