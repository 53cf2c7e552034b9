#include "dsp/chain.h"

namespace lumisere::dsp {
inline namespace LUMISERE_CORE_COPY {

namespace {

// A non-finite input sample is processed as silence, in the wet chain and in the dry part of the
// mix alike, so no filter, envelope or analyser ever takes a NaN or an infinity into its state.
inline double finiteOrSilence(float sample) { return isFiniteSample(sample) ? static_cast<double>(sample) : 0.0; }

// One chunk on its way through the chain.
struct Chunk {
    int start = 0;   // its first frame within the block
    int frames = 0;  // 1..kChunkFrames
    double xL[kChunkFrames], xR[kChunkFrames];  // the input, finite, widened
    double sL[kChunkFrames], sR[kChunkFrames];  // the wet signal: de-essed, then gated in place
    double hL[kChunkFrames], hR[kChunkFrames];  // the air band's high part of the gated signal
    DeEsserChunk deEsser;
    GateDetector detector;
};

// The gate's envelope and gain on a chunk whose detector is followed, in place on its wet signal, and
// the air band's split of the gated signal, in one loop: two short recurrences that in loops of their
// own would each wait on their own latency. The band's low-pass states keep their values while it is
// off.
void gateAndSplit(DspState& state, const ChainSettings& settings, Chunk& chunk, AirShape& shape,
                  ChainExtremes& extremes) {
    double releaseFactor[kChunkFrames];
    prepareGate(settings.gate, chunk.detector, chunk.deEsser.wobble, chunk.frames, releaseFactor, shape);
    const GateSettings& gate = settings.gate;
    const bool airOn = settings.output.airOn;
    const Lanes smoothing = {settings.output.smoothing, settings.output.smoothing};
    double env = state.gateEnv;
    double gMin = extremes.smallestGateGain;
    Lanes low = {state.airLowL, state.airLowR};
    for (int i = 0; i < chunk.frames; ++i) {
        env = stepGateEnvelope(env, gate.attack, chunk.detector.m[i], releaseFactor[i]);
        const double g = gateGain(gate, env);
        gMin = smaller(gMin, g);
        chunk.sL[i] = chunk.sL[i] * g;
        chunk.sR[i] = chunk.sR[i] * g;
        if (airOn) {
            const Lanes h = splitAirFrame(low, Lanes{chunk.sL[i], chunk.sR[i]}, smoothing);
            chunk.hL[i] = h[0];
            chunk.hR[i] = h[1];
        }
    }
    state.gateEnv = env;
    extremes.smallestGateGain = gMin;
    if (airOn) {
        state.airLowL = low[0];
        state.airLowR = low[1];
    }
}

}  // namespace

// The two analysers are the chain's longest recurrences, and the de-essed analyser can only follow a
// frame once the band analyser has decided it. So the chain runs skewed by one chunk: while the band
// analyser steps through chunk c, the de-essed analyser steps through chunk c - 1, whose de-essed
// signal is complete, in the same loop, so the processor overlaps the two analysers' dependency
// chains, and steps both analysers' followers in the two lanes of one register. Every frame is
// computed exactly as it would be unskewed.
void runChain(DspState& state, const ChainSettings& settings, const float* const* inputs, float* const* outputs,
              int frameCount, ChainExtremes& extremes) {
    Chunk chunks[2];
    SignalAnalyser bandAnalyser = state.bandAnalyser;
    SignalAnalyser deEssedAnalyser = state.deEssedAnalyser;
    AirShape shape;  // the de-essed analyser's readings the air band takes
    const double threshold = settings.deEsser.threshold;
    const int chunkCount = frameCount / kChunkFrames + (frameCount % kChunkFrames != 0 ? 1 : 0);
    for (int c = 0; c <= chunkCount; ++c) {
        Chunk* current = c < chunkCount ? &chunks[c % 2] : nullptr;
        Chunk* previous = c > 0 ? &chunks[(c - 1) % 2] : nullptr;
        int decided = 0;
        int followed = 0;
        if (current != nullptr) {
            current->start = c * kChunkFrames;
            current->frames = frameCount - current->start < kChunkFrames ? frameCount - current->start : kChunkFrames;
            // The whole chunk is read before any of it is written, and output is written only for
            // chunks already read, so in-place buffers are safe.
            for (int i = 0; i < current->frames; ++i) {
                current->xL[i] = finiteOrSilence(inputs[0][current->start + i]);
                current->xR[i] = finiteOrSilence(inputs[1][current->start + i]);
            }
            runSideChain(state, settings.deEsser, current->xL, current->xR, current->frames, current->deEsser);
        }
        if (current != nullptr && previous != nullptr) {
            // Only the block's last chunk can be short, so the previous one is at least as long.
            DeEsserChunk& deEsser = current->deEsser;
            GateDetector& detector = previous->detector;
            FollowerPair pair = pairFollowers(bandAnalyser, deEssedAnalyser);
            for (; decided < current->frames; ++decided) {
                const int i = decided;
                const double m = detectorOf(previous->sL, previous->sR, i);
                advanceFollowerPair(pair, Lanes{deEsser.band[i], m});
                advanceModulator(bandAnalyser);
                decideFrame(pair.level[0], pair.slowLevel[0], pair.laplacian[0], bandAnalyser.modulatorSin, threshold,
                            deEsser, i);
                detector.m[i] = m;
                detector.level[i] = pair.level[1];
                detector.slowLevel[i] = pair.slowLevel[1];
            }
            unpairFollowers(pair, 0, bandAnalyser);
            unpairFollowers(pair, 1, deEssedAnalyser);
            followed = decided;
        }
        if (current != nullptr) {
            for (; decided < current->frames; ++decided) {
                advanceAnalyser(bandAnalyser, current->deEsser.band[decided]);
                decideFrame(bandAnalyser.level, bandAnalyser.slowLevel, bandAnalyser.laplacian,
                            bandAnalyser.modulatorSin, threshold, current->deEsser, decided);
            }
            formDeEssed(settings.deEsser, current->deEsser, current->xL, current->xR, current->frames, current->sL,
                        current->sR, extremes.smallestDeEssGain);
        }
        if (previous != nullptr) {
            GateDetector& detector = previous->detector;
            for (; followed < previous->frames; ++followed) {
                detector.m[followed] = detectorOf(previous->sL, previous->sR, followed);
                advanceFollowers(deEssedAnalyser, detector.m[followed]);
                detector.level[followed] = deEssedAnalyser.level;
                detector.slowLevel[followed] = deEssedAnalyser.slowLevel;
            }
            gateAndSplit(state, settings, *previous, shape, extremes);
            runAirOutput(settings.output, previous->sL, previous->sR, previous->hL, previous->hR, shape, previous->xL,
                         previous->xR, previous->frames, outputs[0] + previous->start, outputs[1] + previous->start,
                         extremes.peakL, extremes.peakR);
        }
    }
    // Both analysers have now taken every frame, so their modulators agree again.
    takeModulator(deEssedAnalyser, bandAnalyser);
    refreshAnalyserReadings(bandAnalyser);
    refreshAnalyserReadings(deEssedAnalyser);
    state.bandAnalyser = bandAnalyser;
    state.deEssedAnalyser = deEssedAnalyser;
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
