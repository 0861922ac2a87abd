#include "transfer/transfer_faults.h"

TransferCalls transferCalls;
