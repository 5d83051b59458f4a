// One pipeline of the mixer: every element and pad it keeps, built in one go and torn down on
// one path (stopped, request pads given back, references dropped).
#pragma once

#include <QSet>
#include <QString>
#include <QVariant>

#include <array>
#include <memory>

#include "audio/encoder_chain.h"
#include "audio/gst_object_handle.h"
#include "audio/monitor_output.h"

// Two decks, each appsrc → queue → convert → resample → volume, into the audiomixer; the mix,
// pinned to the mix format, through the master volume into a tee; from the tee the monitor
// branch and, when encoding, queue → convert → resample → encoder chain → appsink.
//
// Main thread only (the elements themselves run on GStreamer's streaming threads).
class MixerGraph {
public:
    static constexpr int kDecks = 2;

    struct Recipe {
        int deckChannels = 0;  // what the deck sources announce until a deck says otherwise
        int deckRateHz = 0;
        bool encoding = false;
        EncoderChainSettings encoder;
        QSet<QString> unavailableFactories;  // test seam: plug-ins to treat as not installed
    };

    // The monitor makes and sets up its own branch. Null when a part is missing or does not
    // link; *error then holds what the user should be told, if anything (a missing encoder).
    static std::unique_ptr<MixerGraph> build(const Recipe& recipe, MonitorOutput& monitor,
                                             QString* error);
    // Blocks until the pipeline has stopped (normally milliseconds).
    ~MixerGraph();

    MixerGraph(const MixerGraph&) = delete;
    MixerGraph& operator=(const MixerGraph&) = delete;

    // Blocks for the state change. False if an element refused it.
    bool play();
    void halt();

    GstElement* pipeline() const { return m_pipeline.get(); }
    GstElement* deckSource(int deckIndex) const { return m_deckSources[deckIndex].get(); }
    GstElement* deckVolume(int deckIndex) const { return m_deckVolumes[deckIndex].get(); }
    GstElement* masterVolume() const { return m_masterVolume.get(); }
    GstElement* monitorQueue() const { return m_monitorQueue.get(); }
    GstElement* monitorVolume() const { return m_monitorVolume.get(); }
    GstElement* monitorSink() const { return m_monitorSink.get(); }
    // Encoding only: where the encoded stream leaves, and the chain that makes it.
    GstElement* appsink() const { return m_appsink.get(); }
    const EncoderChain* encoderChain() const { return m_encoderChain.get(); }

    // A property of a named element (invalid without the element or the property).
    QVariant property(const QString& elementName, const QString& property) const;

private:
    MixerGraph() = default;
    bool assemble(const Recipe& recipe, MonitorOutput& monitor, QString* error);

    // Declared first, so it goes last: everything below refers into it.
    ElementHandle m_pipeline;
    std::array<ElementHandle, kDecks> m_deckSources;
    std::array<ElementHandle, kDecks> m_deckVolumes;
    ElementHandle m_mixer;
    ElementHandle m_masterVolume;
    ElementHandle m_tee;
    ElementHandle m_monitorQueue;
    ElementHandle m_monitorVolume;
    ElementHandle m_monitorSink;
    ElementHandle m_appsink;
    std::unique_ptr<EncoderChain> m_encoderChain;
    // Declared last, so they go first, back to their elements.
    std::array<RequestPadHandle, kDecks> m_mixerPads;
    RequestPadHandle m_teeEncoderPad;
    RequestPadHandle m_teeMonitorPad;
};
