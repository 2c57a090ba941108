// The sound card of the window. When the program asks this page (by its id) to play a
// file or to record the greeting, the page does it with the browser's audio and tells
// the program how it went, saying "alive" every few seconds while it works, so that
// the program knows when a page has gone. Plain script, no build step; app.js calls
// renderSound with each new state.
'use strict';

const COMMAND_SOUND_REPORT = 2;
const SOUND_ALIVE_MS = 5000;
// As the program takes them: 10 minutes, and no more than the upload limit.
const RECORD_MAX_SECONDS = 600;
const RECORD_MAX_BYTES = 64 * 1024 * 1024;
const WAV_HEADER_BYTES = 44;

let soundJob = null;  // the request this page is working on

function soundReport(job, report) {
  return post(COMMAND_SOUND_REPORT, `${job.id} ${report}`);
}

function renderSound(s) {
  const asked = s.sound && s.sound.page === PAGE_ID ? s.sound : null;
  if (soundJob && (!asked || asked.id !== soundJob.id)) endSoundJob();
  if (asked && !soundJob) startSoundJob(asked);
  if (asked && soundJob && asked.kind === 'record' && asked.stop && !soundJob.stopping) sendRecording(soundJob);
}

// Timers of a page in the background may be held back for a minute; the audio's own
// events keep coming, so they say "alive" too.
function keepAlive(job) {
  const now = Date.now();
  if (now - job.lastAlive < SOUND_ALIVE_MS) return;
  job.lastAlive = now;
  soundReport(job, 'alive');
}

function startSoundJob(asked) {
  const job = { id: asked.id, kind: asked.kind, lastAlive: Date.now() };
  job.alive = setInterval(() => keepAlive(job), SOUND_ALIVE_MS / 5);
  soundJob = job;
  if (asked.kind === 'play') playSound(job, asked.url);
  else if (asked.kind === 'record') openRecorder(job);
}

// The request has ended (or another has come): let go of what this one holds.
function endSoundJob() {
  const job = soundJob;
  soundJob = null;
  clearInterval(job.alive);
  job.ended = true;
  if (job.audio) {
    job.audio.pause();
    job.audio.removeAttribute('src');
  }
  releaseRecorder(job);
}

function finishJob(job, report) {
  if (job.reported) return;
  job.reported = true;
  soundReport(job, report);
}

function playSound(job, url) {
  const audio = new Audio(url);
  job.audio = audio;
  audio.addEventListener('ended', () => finishJob(job, 'ended'));
  audio.addEventListener('error', () => finishJob(job, 'error'));
  audio.addEventListener('timeupdate', () => keepAlive(job));
  audio.play().catch(() => finishJob(job, 'error'));
}

async function openRecorder(job) {
  const media = navigator.mediaDevices;
  if (!media || !media.getUserMedia) {
    // Browsers give the microphone only to secure pages (HTTPS, or loopback).
    soundReport(job, window.isSecureContext ? 'open-error unsupported' : 'open-error insecure');
    return;
  }
  try {
    job.stream = await media.getUserMedia({ audio: true });
  } catch (e) {
    const why = { NotAllowedError: 'denied', SecurityError: 'denied', NotFoundError: 'nodevice' }[e && e.name];
    soundReport(job, 'open-error ' + (why || 'failed'));
    return;
  }
  if (job.ended) {
    releaseRecorder(job);
    return;
  }
  try {
    await startCapture(job);
  } catch (e) {
    releaseRecorder(job);
    soundReport(job, 'start-error');
    return;
  }
  soundReport(job, 'recording');
}

// Mono 16-bit samples at the audio context's own rate, kept as they come.
async function startCapture(job) {
  const context = new AudioContext();
  job.context = context;
  if (context.state !== 'running') {
    // A context that the browser holds back (no gesture) would record nothing.
    await Promise.race([context.resume(), new Promise((resolve) => setTimeout(resolve, 2000))]);
    if (context.state !== 'running') throw new Error('the audio context does not run');
  }
  job.rate = context.sampleRate;
  job.chunks = [];
  job.samples = 0;
  const limit = Math.min(RECORD_MAX_SECONDS * job.rate, Math.floor((RECORD_MAX_BYTES - WAV_HEADER_BYTES) / 2));
  const source = context.createMediaStreamSource(job.stream);
  const processor = context.createScriptProcessor(4096, 1, 1);
  const silent = context.createGain();
  silent.gain.value = 0;
  processor.onaudioprocess = (event) => {
    if (job.stopping) return;
    keepAlive(job);
    const input = event.inputBuffer.getChannelData(0);
    const n = Math.min(input.length, limit - job.samples);
    if (n <= 0) return;
    const pcm = new Int16Array(n);
    for (let i = 0; i < n; i += 1) {
      const v = Math.max(-1, Math.min(1, input[i]));
      pcm[i] = v < 0 ? v * 0x8000 : v * 0x7fff;
    }
    job.chunks.push(pcm);
    job.samples += n;
  };
  // The processor runs only when it leads somewhere; the gain keeps it silent.
  source.connect(processor);
  processor.connect(silent);
  silent.connect(context.destination);
  job.nodes = [source, processor, silent];
}

function releaseRecorder(job) {
  for (const node of job.nodes || []) node.disconnect();
  job.nodes = null;
  if (job.stream) job.stream.getTracks().forEach((track) => track.stop());
  job.stream = null;
  if (job.context) job.context.close().catch(() => {});
  job.context = null;
}

function wavHeader(samples, rate) {
  const header = new DataView(new ArrayBuffer(WAV_HEADER_BYTES));
  const text = (at, s) => { for (let i = 0; i < s.length; i += 1) header.setUint8(at + i, s.charCodeAt(i)); };
  text(0, 'RIFF');
  header.setUint32(4, 36 + samples * 2, true);
  text(8, 'WAVE');
  text(12, 'fmt ');
  header.setUint32(16, 16, true);
  header.setUint16(20, 1, true);  // PCM
  header.setUint16(22, 1, true);  // mono
  header.setUint32(24, rate, true);
  header.setUint32(28, rate * 2, true);
  header.setUint16(32, 2, true);
  header.setUint16(34, 16, true);
  text(36, 'data');
  header.setUint32(40, samples * 2, true);
  return header.buffer;
}

// Stops, says so, then sends the recording; the server tells the program when it has
// arrived whole.
async function sendRecording(job) {
  job.stopping = true;
  let wav;
  try {
    releaseRecorder(job);
    wav = new Blob([wavHeader(job.samples, job.rate)].concat(job.chunks), { type: 'audio/wav' });
    job.chunks = null;
  } catch (e) {
    soundReport(job, 'stop-error');
    return;
  }
  await soundReport(job, 'stopped');
  let sent = false;
  try {
    const r = await fetch(`api/greeting?request=${job.id}`, {
      method: 'POST',
      headers: { 'Content-Type': 'audio/wav' },
      body: wav,
      credentials: 'same-origin',
      cache: 'no-store',
    });
    sent = r.ok;
  } catch (e) {
    sent = false;
  }
  if (!sent && !job.ended) soundReport(job, 'save-error');
}
