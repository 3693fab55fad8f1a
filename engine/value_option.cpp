#include "engine/value_option.h"

#include "engine/random_jump.h"

Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files,
                   ValuationQueue& queue, const CompletionHooks& hooks) {
  queue.enqueue(request, generator.state);
  Status valued = queue.completeNext(result, files, hooks);
  if (valued.ok()) {
    generator.state = applyJump(randomJump(drawsOfValuation(request)), generator.state);
  }
  return valued;
}

Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files) {
  ValuationQueue queue(1, SimulationChoice{});
  return valueOption(request, result, generator, files, queue);
}
