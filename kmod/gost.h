/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The module's own GOST 28147-89 engine: table-driven rounds, CFB, the
 * imito-insert MAC and the per-frame key derivation of the tunnel.
 *
 * Conventions: a block is two little-endian words N1 (bytes 0-3) and N2
 * (bytes 4-7); a key is eight little-endian words K0..K7.  Nothing here
 * allocates; all state belongs to the caller.
 */
#ifndef PARVEX_GOST_H
#define PARVEX_GOST_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GOST_BLOCK_SIZE 8
#define GOST_KEY_SIZE 32
#define GOST_SBOX_SIZE 64

/* T0..T3: S-box substitution and the rotation by 11 folded together. */
struct gost_tables {
	u32 t[4][256];
};

/* One direction of a session. */
struct gost_ctx {
	/* Last frame sent (sending side) or highest frame accepted (receiving). */
	u64 counter;
	/*
	 * Receiving side: bit i set when frame counter - 1 - i has been
	 * accepted, for the GOST_REPLAY_WINDOW frames behind the highest.
	 */
	u32 replay_seen;
	/* From here on: key material, wiped when the keys go. */
	u8 iv[8];
	u32 key[8];
	u32 key_mask[8];
	struct gost_tables t;
	/* W0..W7: frame-key substitution, one table per byte of a block. */
	u32 w[8][256];
};

/* How far behind the highest accepted frame a frame may still arrive. */
#define GOST_REPLAY_WINDOW 15

/* Builds T0..T3 from a packed 64-byte S-box. */
void gost_build_tables(struct gost_tables *t, const u8 sbox[GOST_SBOX_SIZE]);

/* One block in place: E (32-round encryption) and D (its inverse). */
void gost_encrypt_block(const u32 key[8], const struct gost_tables *t, u8 block[8]);
void gost_decrypt_block(const u32 key[8], const struct gost_tables *t, u8 block[8]);

/*
 * CFB with a 64-bit register: reg and *pos carry the state between calls,
 * so a message may be processed in pieces.  in and out may be the same.
 */
void velmora_gost_encrypt(const u8 *in, u8 *out, size_t len, const u32 key[8],
			  u8 reg[8], const struct gost_tables *t, unsigned int *pos);
void velmora_gost_decrypt(const u8 *in, u8 *out, size_t len, const u32 key[8],
			  u8 reg[8], const struct gost_tables *t, unsigned int *pos);
/* CFB encryption whose round keys are masked[i] - mask[i]. */
void velmora_gost_fapsi_masked_encrypt(const u8 *in, u8 *out, size_t len,
				       const u32 masked[8], const u32 mask[8],
				       u8 reg[8], const struct gost_tables *t,
				       unsigned int *pos);

/* Imito-insert: Start, any number of Calc, End leaves the 8-byte MAC in s. */
void ImitCalcStart(unsigned int *pos, u8 s[8]);
void ImitCalc(const u8 *data, size_t len, const u32 key[8], u8 s[8],
	      const struct gost_tables *t, unsigned int *pos);
void ImitCalcEnd(const u32 key[8], u8 s[8], const struct gost_tables *t);
/* One-shot MAC starting from the caller's s (normally zeroed). */
void velmora_gost_imit(const u8 *data, size_t len, const u32 key[8],
		       const struct gost_tables *t, u8 s[8]);

/*
 * The frame path in one pass: CFB from iv (position 0) over data[0..len)
 * in place, and the MAC of the plain data followed by the 8 trailer bytes.
 * The two chains are independent, so they interleave.
 */
void gost_encrypt_imit(u8 *data, size_t len, const u8 trailer[8],
		       const u32 key[8], const u8 iv[8], const struct gost_tables *t,
		       u8 mac[8]);
void gost_decrypt_imit(u8 *data, size_t len, const u8 trailer[8],
		       const u32 key[8], const u8 iv[8], const struct gost_tables *t,
		       u8 mac[8]);

/* Blocks and keys are little-endian words, whatever the CPU. */
static inline u32 gost_get_le32(const u8 *p)
{
	return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
}

static inline void gost_put_le32(u8 *p, u32 v)
{
	p[0] = (u8)v;
	p[1] = (u8)(v >> 8);
	p[2] = (u8)(v >> 16);
	p[3] = (u8)(v >> 24);
}

/* Reverses the byte order of a 64-bit value. */
u64 hton64(u64 v);

/* Passes of the frame-key table search before the key material is refused. */
#define GOST_KEY_MAX_PASSES 1024

/*
 * Fills a direction context's key material (its counter and replay window
 * stay); 0, or -EINVAL when the S-box has a constant substitution or no
 * frame-key table comes of this IV.  The context's key material is then
 * partly written: the caller discards it.
 */
int InitEncryptKey(struct gost_ctx *ctx, const u8 key[GOST_KEY_SIZE],
		   const u8 key_mask[GOST_KEY_SIZE], const u8 iv[8],
		   const u8 sbox[GOST_SBOX_SIZE]);
/* The frame key for the context's current counter. */
void GenKey(const struct gost_ctx *ctx, u32 out[8]);
/*
 * Frame keys: the counter, most significant byte first, is encrypted under
 * this fixed key; its bytes pick W0..W7 words, which are then decrypted as
 * four blocks under the context's key.
 */
extern const u8 gost_frame_mix_key[GOST_KEY_SIZE];
/* The frame key for a given counter, without touching the context. */
void gost_frame_key(const struct gost_ctx *ctx, u64 counter, u32 out[8]);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_GOST_H */
