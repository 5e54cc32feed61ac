#include "update/workflow/update_stage.h"

#include <atomic>

namespace {

// Written by the update's worker, read by the window: one atomic value,
// created before the entry point and never destroyed (detached workers may
// still run while the process ends).
std::atomic<UpdateStage>& updateStage = *new std::atomic<UpdateStage>(UpdateStage::None);

}  // namespace

void SetUpdateStage(UpdateStage stage) { updateStage = stage; }

UpdateStage UpdateStageNow() { return updateStage; }

UpdateStage TakeUpdateStage() { return updateStage.exchange(UpdateStage::None); }
