// The notify tests need other processes of a device: this program doubles as that peer.
#include "PeerProcess.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (argc >= 3 && argv[1] == notifyPeerFlag)
        return runNotifyPeer(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
