// Invariants of the built-in variable catalogue: rows against the published identifier lists and
// dimension runs, the rows given in full, and the dictionary built from them.
#include "variables/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

namespace qv::variables {
namespace {

// Identifier lists by code, as published with the results format ("A-B blank": no identifier,
// "A-B undefined": no row).
const char* const kIntegerIdentifierList =
    "1 IVI_CON1, 2 IVI_CON2, 3 IVI_CON3, 4 IVI_CON4, 5 IVI_CON5, 6 IVI_CON6, 7 IVI_CON7, 8 IVI_CON8, "
    "9 IVI_TYPE, 10 IVI_MATNO, 11 IVI_INITCOND, 12 IVI_STATUS, 13 IVI_BNDNO, 14 IVI_INITIALIZED, "
    "15 IVI_ALE_MOTION, 16 IVI_EDGE_FLAG, 17 IVI_PART_NO, 18 IVI_MATNO_SUB, 19 IVI_STATUS_SUB, "
    "20 IVI_IFS11_SUB, 21 IVI_IFS22_SUB, 22 IVI_IFS33_SUB, 23 IVI_IFS12_SUB, 24 IVI_IFS23_SUB, "
    "25 IVI_IFS31_SUB, 26 IVI_EROSION, 27 IVI_CST, 28 IVI_GLOBAL_INDEX, 29 IVI_NELEM, "
    "30 IVI_NODE_JOIN, 31 IVI_JOIN_CONN, 32 IVI_JOIN_NTYPE, 33 IVI_FBNDNO, 34 IVI_NUM_NODE_THOPT, "
    "35 IVI_TASK_NO, 36 IVI_NELEM2, 37 IVI_DONOTUSE, 38 IVI_FCONTACT, 39 IVI_KBX, 40 IVI_KBY, "
    "41 IVI_KBZ, 42 IVI_KBI, 43 IVI_KBJ, 44 IVI_KBK, 45 IVI_KRX, 46 IVI_KRY, 47 IVI_KRZ, 48 IVI_REV, "
    "49 IVI_NBS_EROSION, 50 IVI_NBS_STATUS, 51 IVI_NBS_MATLOC1, 52 IVI_NBS_MATLOC2, "
    "53 IVI_NBS_MATLOC3, 54 IVI_NBS_MATLOC4, 55 IVI_NODE_REMOTE, 56 IVI_ELEM_CSYS, "
    "57 IVI_FACE_PARTNER, 58 IVI_FACE_PARTNER2, 59 IVI_RBSYS";
const char* const kRealIdentifierList =
    "1 IVR_X, 2 IVR_Y, 3 IVR_Z, 4 IVR_UX, 5 IVR_UY, 6 IVR_UZ, 7 IVR_ABSVEL, 8 IVR_FX, 9 IVR_FY, "
    "10 IVR_FZ, 11 IVR_NMASS, 12 IVR_URX, 13 IVR_URY, 14 IVR_URZ, 15 IVR_BMX, 16 IVR_BMY, "
    "17 IVR_BMZ, 18 IVR_RI1, 19 IVR_RI2, 20 IVR_RI3, 21 IVR_RI12, 22 IVR_RI23, 23 IVR_RI31, "
    "24 IVR_X0, 25 IVR_Y0, 26 IVR_Z0, 27 IVR_VOL, 28 IVR_EXXD, 29 IVR_EYYD, 30 IVR_EZZD, "
    "31 IVR_EXYD, 32 IVR_EYZD, 33 IVR_EZXD, 34 IVR_DIV, 35 IVR_STNXX, 36 IVR_STNYY, 37 IVR_STNZZ, "
    "38 IVR_STNXY, 39 IVR_STNYZ, 40 IVR_STNZX, 41 IVR_STN11, 42 IVR_STN22, 43 IVR_STN33, "
    "44 IVR_STN12, 45 IVR_STN23, 46 IVR_STN31, 47 IVR_STNS1, 48 IVR_STNS1, 49 IVR_STNS12, "
    "50 IVR_VORX, 51 IVR_VORY, 52 IVR_VORZ, 53 IVR_EFS, 54 IVR_EPS, 55 IVR_EPS_RATE, "
    "56 IVR_THICKNESS, 57 IVR_CSAREA, 58 IVR_DIRNX, 59 IVR_DIRNY, 60 IVR_DIRNZ, 61 IVR_COSFI, "
    "62 IVR_SINFI, 63 IVR_PSANG, 64 IVR_PRES, 65 IVR_NODE_PRES, 66 IVR_Q, 67 IVR_TXX, 68 IVR_TYY, "
    "69 IVR_TZZ, 70 IVR_TXY, 71 IVR_TYZ, 72 IVR_TZX, 73 IVR_T11, 74 IVR_T22, 75 IVR_T33, 76 IVR_T12, "
    "77 IVR_T23, 78 IVR_T31, 79 IVR_MISES, 80 IVR_YIELD, 81 IVR_INT_ENERGY, 82 IVR_DENSITY, "
    "83 IVR_MASS, 84 IVR_MAT_FRAC, 85 IVR_COMPRESSION, 86 IVR_TEMP, 87 IVR_ALPHA, 88 IVR_BURN_FRAC, "
    "89 IVR_DAMAGE, 90 IVR_SOUNDSPEED, 91 IVR_SOUNDSPEED_ZERO, 92 IVR_LIN_SLOPE, "
    "93 IVR_PLASTIC_WORK, 94 IVR_VOID_FRAC, 95 IVR_DPDX, 96 IVR_DPDY, 97 IVR_DPDZ, 98 IVR_DRDX, "
    "99 IVR_DRDY, 100 IVR_DRDZ, 101 IVR_DUXDX, 102 IVR_DUXDY, 103 IVR_DUXDZ, 104 IVR_DUYDX, "
    "105 IVR_DUYDY, 106 IVR_DUYDZ, 107 IVR_DUZDX, 108 IVR_DUZDY, 109 IVR_DUZDZ, 110 IVR_STR_RES1, "
    "111 IVR_STR_RES2, 112 IVR_STR_RES12, 113 NOT USED, 114 NOT USED, 115 IVR_BM1, 116 IVR_BM2, "
    "117 IVR_BM12, 118 IVR_BM_LEN, 119 IVR_RJJ, 120 IVR_FAXIAL, 121 IVR_FTORSIONAL, 122 IVR_BMYI, "
    "123 IVR_BMYJ, 124 IVR_BMZI, 125 IVR_BMZJ, 126 IVR_BBV11, 127 IVR_BBV12, 128 IVR_BBV13, "
    "129 IVR_BBV21, 130 IVR_BBV22, 131 IVR_BBV23, 132 IVR_BBV31, 133 IVR_BBV32, 134 IVR_BBV33, "
    "135 IVR_EBV11, 136 IVR_EBV12, 137 IVR_EBV13, 138 IVR_EBV21, 139 IVR_EBV22, 140 IVR_EBV23, "
    "141 IVR_EBV31, 142 IVR_EBV32, 143 IVR_EBV33, 144 IVR_SML, 145 IVR_DEN_OLD, 146 IVR_NO_NEIGH, "
    "147 IVR_HQM1, 148 IVR_HQM2, 149 IVR_HQB1, 150 IVR_HQB2, 151 IVR_HQB3, 152 IVR_FCOVERI, "
    "153 IVR_FCOVERJ, 154 IVR_FCOVERK, 155 IVR_FCOVERV, 156 IVR_RBLEND, 157 IVR_PDIL, 158 IVR_EDIL, "
    "159 IVR_EPSPRE, 160 IVR_FRATE, 161 IVR_RTHIRD, 162 IVR_FCAP, 163 IVR_EPSD_OLD, "
    "164 IVR_FAIL_STRESS, 165 IVR_SOFT_SLOPE, 166 IVR_PCOR11, 167 IVR_PCOR22, 168 IVR_PCOR33, "
    "169 IVR_VTXX, 170 IVR_VTYY, 171 IVR_VTZZ, 172 IVR_VTXY, 173 IVR_VTYZ, 174 IVR_VTZX, "
    "175 IVR_IGTIME, 176 IVR_SBRCRT, 177 IVR_EDGE_MASS, 178 IVR_JOIN_CELLS, 179 IVR_SPDMMS, "
    "180 IVR_DTEMPDX, 181 IVR_DTEMPDY, 182 IVR_DTEMPDZ, 183 IVR_THMENG, 184 IVR_GAS_PRES, "
    "185 IVR_FILL_DEN, 186 IVR_STOCH, 187 IVR_VAR01, 188 IVR_VAR02, 189 IVR_VAR03, 190 IVR_VAR04, "
    "191 IVR_VAR05, 192 IVR_VAR06, 193 IVR_VAR07, 194 IVR_VAR08, 195 IVR_VAR09, 196 IVR_VAR10, "
    "197 IVR_VAR11, 198 IVR_VAR12, 199 IVR_VAR13, 200 IVR_VAR14, 201 IVR_VAR15, 202 IVR_VAR16, "
    "203 IVR_VAR17, 204 IVR_VAR18, 205 IVR_VAR19, 206 IVR_VAR20, 207-226 blank, 227 IVR_STR1, "
    "228 IVR_STR2, 229 IVR_STR12, 230 IVR_STR23, 231 IVR_STR31, 232 IVR_SSN1, 233 IVR_SSN2, "
    "234 IVR_SSN3, 235 IVR_SSN12, 236 IVR_SSN23, 237 IVR_SSN31, 238 IVR_NNVOL, 239 IVR_NNVOL0, "
    "240 IVR_NNPRES, 241 IVR_SUBL_EPS, 242 IVR_ROTAXI, 243 IVR_ROT22N1, 244 IVR_ROT22N2, "
    "245 IVR_ROT33N1, 246 IVR_ROT33N2, 247 IVR_RI21, 248 IVR_RI32, 249 IVR_RI13, 250 IVR_ANG, "
    "251 IVR_NNDEXX, 252 IVR_NNDEYY, 253 IVR_NNDEZZ, 254 IVR_NNCOMP, 255 IVR_NNDENSITY, 256 IVR_NNQ, "
    "257 IVR_NNINT_ENERGY, 258 IVR_NNINT_ENERGY_INC, 259 IVR_NNSOUNDSPEED_SHEAR, "
    "260 IVR_NNSOUNDSPEED_BULK, 261 IVR_DAM11, 262 IVR_DAM22, 263 IVR_DAM33, 264 IVR_DAM12, "
    "265 IVR_DAM23, 266 IVR_DAM31, 267 IVR_EPS11, 268 IVR_EPS22, 269 IVR_EPS33, 270 IVR_EPS12, "
    "271 IVR_EPS23, 272 IVR_EPS31, 273 IVR_H11, 274 IVR_H22, 275 IVR_H33, 276 IVR_H12, 277 IVR_H23, "
    "278 IVR_H31, 279 IVR_CSTN11, 280 IVR_CSTN22, 281 IVR_CSTN33, 282 IVR_CSTN12, 283 IVR_CSTN23, "
    "284 IVR_CSTN31, 285 IVR_THK_SUB, 286 IVR_FXOLD, 287 IVR_FYOLD, 288 IVR_FZOLD, 289 IVR_BMXOLD, "
    "290 IVR_BMYOLD, 291 IVR_BMZOLD, 292 IVR_XOLD, 293 IVR_YOLD, 294 IVR_ZOLD, 295 IVR_UXOLD, "
    "296 IVR_UYOLD, 297 IVR_UZOLD, 298 IVR_URXOLD, 299 IVR_URYOLD, 300 IVR_URZOLD, 301 IVR_NNTEMP, "
    "302 IVR_NNTEMP_INC, 303 IVR_NNALPHA, 304 IVR_NNEMASS, 305 IVR_NNESIZE, 306 IVR_PSTN1, "
    "307 IVR_PSTN2, 308 IVR_PSTN3, 309 IVR_NNSTAT, 310 IVR_NNFAIL, 311 IVR_HGX1, 312 IVR_HGY1, "
    "313 IVR_HGZ1, 314 IVR_HGX2, 315 IVR_HGY2, 316 IVR_HGZ2, 317 IVR_HGX3, 318 IVR_HGY3, "
    "319 IVR_HGZ3, 320 IVR_HGX4, 321 IVR_HGY4, 322 IVR_HGZ4, 323 IVR_XVELB, 324 IVR_YVELB, "
    "325 IVR_ZVELB, 326 IVR_RXVELB, 327 IVR_RYVELB, 328 IVR_RZVELB, 329 IVR_DONOTUSE, "
    "330 IVR_NMASSPP, 331 IVR_EXT_FX, 332 IVR_EXT_FY, 333 IVR_EXT_FZ, 334 IVR_EXT_FX_CON, "
    "335 IVR_EXT_FY_CON, 336 IVR_EXT_FZ_CON, 337 IVR_EXT_FX_COU, 338 IVR_EXT_FY_COU, "
    "339 IVR_EXT_FZ_COU, 340 IVR_EXT_FX_BND, 341 IVR_EXT_FY_BND, 342 IVR_EXT_FZ_BND, "
    "343 IVR_STORE_FX_JN, 344 IVR_STORE_FY_JN, 345 IVR_STORE_FZ_JN, 346 IVR_DLTHE, "
    "347 IVR_MASS_SCALE, 348 IVR_ADDED_MASS, 349 IVR_DN1DX0, 350 IVR_DN1DY0, 351 IVR_DN1DZ0, "
    "352 IVR_DN2DX0, 353 IVR_DN2DY0, 354 IVR_DN2DZ0, 355 IVR_DN3DX0, 356 IVR_DN3DY0, 357 IVR_DN3DZ0, "
    "358 IVR_DN4DX0, 359 IVR_DN4DY0, 360 IVR_DN4DZ0, 361 IVR_DN5DX0, 362 IVR_DN5DY0, 363 IVR_DN5DZ0, "
    "364 IVR_DN6DX0, 365 IVR_DN6DY0, 366 IVR_DN6DZ0, 367 IVR_DN7DX0, 368 IVR_DN7DY0, 369 IVR_DN7DZ0, "
    "370 IVR_DN8DX0, 371 IVR_DN8DY0, 372 IVR_DN8DZ0, 373 IVR_VOLUM0, 374 IVR_HTSP, 375 IVR_HTSP, "
    "376 IVR_RHOK, 377 IVR_FHEAL, 378 IVR_DENFAIL, 379 IVR_SDEN, 380 IVR_MFRGS, 381 IVR_PSBAR, "
    "382 IVR_RHOSBAR, 383 IVR_PNM, 384 IVR_HQ, 385 IVR_NNHQ, 386 IVR_LAMDA, 387 IVR_NNDENSITYK, "
    "388 IVR_HTLPRES, 389 IVR_NNHTLPRES, 390 IVR_HFF, 391 IVR_HHE, 392 IVR_NNPDIL, 393 IVR_NNEDIL, "
    "394 IVR_DISPX, 395 IVR_DISPY, 396 IVR_DISPZ, 397 IVR_DISPABS, 398 IVR_INT_ENERGY_SUB, "
    "399 IVR_PLASTIC_WORK, 400 IVR_KSI, 401 IVR_ETA, 402 IVR_ZETA, 403 IVR_LIMAXT, 404 IVR_LIMAXC, "
    "405 IVR_LIMM1T, 406 IVR_LIMM1C, 407 IVR_LIMM2TI, 408 IVR_LIMM2TJ, 409 IVR_LIMM2CI, "
    "410 IVR_LIMM2CJ, 411 IVR_LIMM3TI, 412 IVR_LIMM3TJ, 413 IVR_LIMM3CI, 414 IVR_LIMM3CJ, "
    "415 IVR_DIRN2X, 416 IVR_DIRN2Y, 417 IVR_DIRN2Z, 418 IVR_IMEXUX, 419 IVR_IMEXUY, 420 IVR_IMEXUZ, "
    "421 IVR_KSTRXX, 422 IVR_KSTRYY, 423 IVR_KSTRZZ, 424 IVR_KSTRXY, 425 IVR_KSTRYZ, 426 IVR_KSTRZX, "
    "427 IVR_KSTRXX2, 428 IVR_KSTRYY2, 429 IVR_KSTRXY2, 430 IVR_KSTRYZ2, 431 IVR_KSTRZX2, "
    "432 IVR_PLSTNXX, 433 IVR_PLSTNYY, 434 IVR_PLSTNZZ, 435 IVR_PLSTNXY, 436 IVR_PLSTNYZ, "
    "437 IVR_PLSTNZX, 438 IVR_PLSTN1_SUB, 439 IVR_PLSTN2_SUB, 440 IVR_PLSTN12_SUB, "
    "441 IVR_PLSTN23_SUB, 442 IVR_PLSTN31_SUB, 443 IVR_NACCX, 444 IVR_NACCY, 445 IVR_NACCZ, "
    "446 IVR_BNDSTAT, 447 IVR_STRX, 448 IVR_STRY, 449 IVR_STRXY, 450 IVR_STRYZ, 451 IVR_STRZX, "
    "452 IVR_STRZ, 453 IVR_SSNX, 454 IVR_SSNY, 455 IVR_SSNXY, 456 IVR_SSNYZ, 457 IVR_SSNZX, "
    "458 IVR_SSNZ, 459 IVR_GPLSTNX, 460 IVR_GPLSTNY, 461 IVR_GPLSTNXY, 462 IVR_GPLSTNYZ, "
    "463 IVR_GPLSTNZX, 464 IVR_GPLSTNZ, 465 IVR_PLSTN3_SUB, 466 IVR_KSTRXX1, 467 IVR_KSTRYY1, "
    "468 IVR_KSTRXY1, 469 IVR_KSTRYZ1, 470 IVR_KSTRZX1, 471 IVR_DSMINEL, 472 IVR_NBS_NDUDX, "
    "473 IVR_NBS_NDUDY, 474 IVR_NBS_NDUDZ, 475 IVR_NBS_NDVDX, 476 IVR_NBS_NDVDY, 477 IVR_NBS_NDVDZ, "
    "478 IVR_NBS_NDWDX, 479 IVR_NBS_NDWDY, 480 IVR_NBS_NDWDZ, 481 IVR_NBS_NVOL, 482 IVR_NBS_NTXX, "
    "483 IVR_NBS_NTYY, 484 IVR_NBS_NTZZ, 485 IVR_NBS_NTXY, 486 IVR_NBS_NTYZ, 487 IVR_NBS_NTZX, "
    "488 IVR_NBS_NQ, 489 IVR_NBS_ND_DUDX_SUMM, 490 IVR_NBS_ND_DUDY_SUMM, 491 IVR_NBS_ND_DUDZ_SUMM, "
    "492 IVR_NBS_ND_DVDX_SUMM, 493 IVR_NBS_ND_DVDY_SUMM, 494 IVR_NBS_ND_DVDZ_SUMM, "
    "495 IVR_NBS_ND_DWDX_SUMM, 496 IVR_NBS_ND_DWDY_SUMM, 497 IVR_NBS_ND_DWDZ_SUMM, "
    "498 IVR_NBS_ND_ESIZE_SUMM, 499 IVR_NBS_ND_VOL_SUMM, 500 IVR_NBS_ND_MASS_SUMM, "
    "501 IVR_NBS_NSSPD, 502 IVR_NBS_ENER, 503 IVR_NBS_EPS, 504 IVR_NBS_NVOL0, 505 IVR_NBS_NDENSITY, "
    "506 IVR_NBS_NEMASS, 507 IVR_NBS_NCOMPRESSION, 508 IVR_NBS_FHEAL, 509 IVR_NBS_DENFAIL, "
    "510 IVR_NBS_HTSP, 511 IVR_NBS_ENO, 512 IVR_NBS_SDEN, 513 IVR_NBS_MFRGS, 514 IVR_NBS_PSBAR, "
    "515 IVR_NBS_RHOSBAR, 516 IVR_NBS_PNM, 517 IVR_NBS_LAMDA, 518 IVR_NBS_PLASTIC_WORK, "
    "519 IVR_NBS_TEMP, 520 IVR_NBS_DAMAGE, 521 IVR_NBS_EPSPRE, 522 IVR_NBS_FRATE, "
    "523 IVR_NBS_RTHIRD, 524 IVR_NBS_FCAP, 525 IVR_NBS_EPSDOLD, 526 IVR_NBS_EPS_RATE, "
    "527 IVR_NBS_EPSD_OLD, 528 IVR_NBS_EPS11, 529 IVR_NBS_EPS22, 530 IVR_NBS_EPS33, "
    "531 IVR_NBS_EPS12, 532 IVR_NBS_EPS23, 533 IVR_NBS_EPS31, 534 IVR_NBS_PDIL, 535 IVR_NBS_DAM11, "
    "536 IVR_NBS_DAM22, 537 IVR_NBS_DAM33, 538 IVR_NBS_DAM12, 539 IVR_NBS_DAM23, 540 IVR_NBS_DAM31, "
    "541 IVR_NBS_H11, 542 IVR_NBS_H22, 543 IVR_NBS_H33, 544 IVR_NBS_H12, 545 IVR_NBS_H23, "
    "546 IVR_NBS_H31, 547 IVR_NBS_CSTN11, 548 IVR_NBS_CSTN22, 549 IVR_NBS_CSTN33, "
    "550 IVR_NBS_CSTN12, 551 IVR_NBS_CSTN23, 552 IVR_NBS_CSTN31, 553 IVR_NBS_ALPHA, "
    "554 IVR_NBS_STN11, 555 IVR_NBS_STN22, 556 IVR_NBS_STN33, 557 IVR_NBS_STN12, 558 IVR_NBS_STN23, "
    "559 IVR_NBS_STN31, 560 IVR_NBS_PSANG, 561 IVR_NBS_DIRNX, 562 IVR_NBS_DIRNY, 563 IVR_NBS_DIRNZ, "
    "564 IVR_NBS_STNXX, 565 IVR_NBS_STNYY, 566 IVR_NBS_STNZZ, 567 IVR_NBS_STNXY, 568 IVR_NBS_STNYZ, "
    "569 IVR_NBS_STNZX, 570 IVR_NBS_DIRN2X, 571 IVR_NBS_DIRN2Y, 572 IVR_NBS_DIRN2Z, "
    "573 IVR_NBS_FAIL_STRESS, 574 IVR_NBS_SOFT_SLOPE, 575 IVR_NBS_VTXX, 576 IVR_NBS_VTYY, "
    "577 IVR_NBS_VTZZ, 578 IVR_NBS_VTXY, 579 IVR_NBS_VTYZ, 580 IVR_NBS_VTZX, 581 IVR_NBS_DLTHE, "
    "582 IVR_NBS_BURN_FRAC, 583 IVR_NBS_IGTIME, 584 IVR_NBS_SBRCRT, 585 IVR_NBS_GAS_PRES, "
    "586 IVR_NBS_EDIL, 587 IVR_NBS_FILL_DEN, 588 IVR_NBS_EFS, 589 IVR_NBS_RHOK, 590 IVR_RCBID, "
    "591 IVR_BLAST_LOAD, 592 IVR_NBS_ADDED_MASS, 593 IVR_NBS_MASS_SCALE, 594 IVR_NBS_STOCH, "
    "595 IVR_NBS_PLSTNXX, 596 IVR_NBS_PLSTNYY, 597 IVR_NBS_PLSTNZZ, 598 IVR_NBS_PLSTNXY, "
    "599 IVR_NBS_PLSTNYZ, 600 IVR_NBS_PLSTNZX, 601 HGGAMMA1, 602 HGGAMMA2, 603 HGGAMMA3, "
    "604 HGGAMMA4, 605 XVELTEN, 606 YVELTEN, 607 ZVELTEN, 608 IVR_RB_E_CONT, 609 IVR_Q_SUB, "
    "610 IVR_SSPD_SUB, 611-646 undefined, 647 IVR_FX_LOCAL, 648 IVR_FY_LOCAL, 649 IVR_FZ_LOCAL, "
    "650 IVR_MX_LOCAL, 651 IVR_MY_LOCAL, 652 IVR_MZ_LOCAL, 653 IVR_UX_LOCAL, 654 IVR_UY_LOCAL, "
    "655 IVR_UZ_LOCAL, 656 IVR_URX_LOCAL, 657 IVR_URY_LOCAL, 658 IVR_URZ_LOCAL";
// Dimension exponents (length, time, mass, temperature) by runs of codes; any other code is 0s.
const char* const kExponentRuns =
    "1-3 (1, 0, 0, 0); 4-7 (1, -1, 0, 0); 8-10 (2, -2, 1, 0); 11 (0, 0, 1, 0); 12-14 (0, -1, 0, 0); "
    "15-17 (2, -2, 1, 0); 18-23 (3, -2, 1, 0); 24-26 (1, 0, 0, 0); 27 (3, 0, 0, 0); "
    "28-33 (0, -1, 0, 0); 50-52 (0, 0, -1, 0); 55 (0, -1, 0, 0); 56 (1, 0, 0, 0); 57 (2, 0, 0, 0); "
    "64-80 (-1, -2, 1, 0); 81 (2, -2, 0, 0); 82 (-3, 0, 1, 0); 83 (0, 0, 1, 0); 86 (0, 0, 0, 1); "
    "90-91 (1, -1, 0, 0); 93 (2, -2, 0, 0); 95-100 (-2, -2, 0, 0); 101-109 (0, -1, 0, 0); "
    "110-112 (-1, -2, 1, 0); 115-117 (1, -2, 1, 0); 118-119 (1, 0, 0, 0); 120 (1, -2, 1, 0); "
    "121-125 (2, -2, 1, 0); 144 (1, 0, 0, 0); 145 (-3, 0, 1, 0); 147-148 (1, -2, 1, 0); "
    "149-151 (2, -2, 1, 0); 157 (-1, -2, 1, 0); 158 (2, -2, 0, 0); 163 (0, -1, 0, 0); "
    "164-174 (-1, -2, 1, 0); 175 (0, 1, 0, 0); 177 (0, 0, 1, 0); 179 (1, -1, 0, 0); "
    "180-182 (-1, 0, 0, 1); 183 (2, -2, 0, 0); 184 (-1, -2, 1, 0); 185 (-3, 0, 1, 0); "
    "227-231 (-1, -2, 1, 0); 238-239 (3, 0, 0, 0); 240 (-1, -2, 1, 0); 242-246 (0, -1, 0, 0); "
    "247-249 (3, -2, 1, 0); 255 (-3, 0, 1, 0); 256 (-1, -2, 1, 0); 257-258 (2, -2, 0, 0); "
    "259-260 (1, -1, 0, 0); 285 (1, 0, 0, 0); 286-288 (1, -2, 1, 0); 289-291 (2, -2, 1, 0); "
    "292-294 (1, 0, 0, 0); 295-297 (1, -1, 0, 0); 298-300 (0, -1, 0, 0); 301-302 (0, 0, 0, 1); "
    "304 (0, 0, 1, 0); 305 (1, 0, 0, 0); 311-322 (1, -2, 1, 0); 323-325 (1, -1, 0, 0); "
    "326-328 (0, -1, 0, 0); 330 (0, 0, 1, 0); 331-345 (1, -2, 1, 0); 346 (0, 1, 0, 0); "
    "348 (0, 0, 1, 0); 373 (3, 0, 0, 0); 374-383 (1, -2, 1, 0); 384-385 (2, -2, 0, 0); "
    "387 (-3, 0, 1, 0); 388-389 (-1, -2, 1, 0); 392 (-1, -2, 1, 0); 393 (2, -2, 0, 0); "
    "394-397 (1, 0, 0, 0); 398-399 (2, -2, 0, 0); 418-420 (1, -1, 0, 0); 421-431 (-1, -2, 1, 0); "
    "443-445 (1, -2, 0, 0); 447-452 (-1, -2, 1, 0); 466-470 (-1, -2, 1, 0); 471 (1, 0, 0, 0); "
    "472-534 (0, 1, 0, 0); 535-546 (1, 0, 0, 0); 586 (0, 1, 0, 0); 589 (0, 1, 0, 0); "
    "591 (-1, -2, 1, 0); 592-593 (0, 0, 1, 0); 608 (2, -2, 0, 0); 609 (-1, -2, 1, 0); "
    "610 (1, -1, 0, 0); 647-649 (1, -2, 1, 0); 650-652 (2, -2, 1, 0); 653-655 (1, -1, 0, 0); "
    "656-658 (0, -1, 0, 0)";

// code -> identifier; codes of an "undefined" range are absent.
std::map<int, std::string> parse_identifiers(const std::string& list) {
    std::map<int, std::string> ids;
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item[0] == ' ') item.erase(0, 1);
        const auto space = item.find(' ');
        const std::string codes = item.substr(0, space), ident = item.substr(space + 1);
        const auto dash = codes.find('-');
        if (dash == std::string::npos) {
            ids[std::stoi(codes)] = ident;
            continue;
        }
        EXPECT_TRUE(ident == "blank" || ident == "undefined") << item;
        if (ident == "undefined") continue;
        for (int c = std::stoi(codes.substr(0, dash)); c <= std::stoi(codes.substr(dash + 1)); ++c) ids[c] = "";
    }
    return ids;
}

using Exp = std::tuple<int, int, int, int>;

std::map<int, Exp> parse_runs(const std::string& list) {
    std::map<int, Exp> runs;
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ';')) {
        int first = 0, last = 0, l = 0, t = 0, m = 0, th = 0;
        if (std::sscanf(item.c_str(), " %d-%d (%d, %d, %d, %d)", &first, &last, &l, &t, &m, &th) != 6) {
            EXPECT_EQ(std::sscanf(item.c_str(), " %d (%d, %d, %d, %d)", &first, &l, &t, &m, &th), 5) << item;
            last = first;
        }
        for (int c = first; c <= last; ++c) runs[c] = Exp{l, t, m, th};
    }
    return runs;
}

std::string field(const std::string& text) { return text + std::string(kTextLength - text.size(), ' '); }

std::string str(const IntegerRow& r) {
    std::ostringstream s;
    s << r.code << '|' << r.short_name << '|' << r.a1 << ',' << r.a2 << '|' << r.identifier << '|' << r.description;
    return s.str();
}

std::string str(const RealRow& r) {
    std::ostringstream s;
    s << r.code << '|' << r.short_name << '|' << r.a1 << ',' << r.a2 << ';' << r.length << ',' << r.time << ','
      << r.mass << ',' << r.temperature << ';' << r.a7 << ',' << r.a8 << ',' << r.a9 << ',' << r.a10 << ','
      << r.a11 << ',' << r.a12 << '|' << r.identifier << '|' << r.description;
    return s.str();
}

TEST(VariableCatalogue, RowsFollowPublishedIdentifiersAndRanges) {
    const auto int_ids = parse_identifiers(kIntegerIdentifierList);
    const auto real_ids = parse_identifiers(kRealIdentifierList);
    ASSERT_EQ(int_ids.size(), 59u);
    ASSERT_EQ(real_ids.size(), 622u);
    ASSERT_EQ(kIntegerRowCount, 59);
    ASSERT_EQ(kRealRowCount, 622);

    int a1_count[4] = {};
    for (int i = 0; i < kIntegerRowCount; ++i) {
        const IntegerRow& r = kIntegerRows[i];
        EXPECT_EQ(r.code, i + 1);
        EXPECT_EQ(r.identifier, int_ids.at(r.code)) << r.code;
        ASSERT_TRUE(r.a1 >= 1 && r.a1 <= 3) << r.code;
        ++a1_count[r.a1];
        const bool a2_three = r.code == 10 || r.code == 12 || r.code == 18 || r.code == 19 || r.code == 26;
        EXPECT_EQ(r.a2, a2_three ? 3 : 0) << r.code;
        EXPECT_LE(std::string(r.short_name).size(), kTextLength);
    }
    EXPECT_EQ(a1_count[1], 40);
    EXPECT_EQ(a1_count[2], 10);
    EXPECT_EQ(a1_count[3], 9);

    int previous = 0;
    for (int i = 0; i < kRealRowCount; ++i) {
        const RealRow& r = kRealRows[i];
        EXPECT_GT(r.code, previous);
        EXPECT_LE(r.code, kRealSlots);
        EXPECT_FALSE(r.code >= 611 && r.code <= 646) << r.code;
        previous = r.code;
        ASSERT_EQ(real_ids.count(r.code), 1u) << r.code;
        EXPECT_EQ(r.identifier, real_ids.at(r.code)) << r.code;
        EXPECT_TRUE(r.a1 >= 0 && r.a1 <= 3 && r.a2 >= 0 && r.a2 <= 1 && r.a7 >= 0 && r.a7 <= 2 &&
                    r.a8 >= 0 && r.a8 <= 2 && r.a9 >= 0 && r.a9 <= 1 && r.a10 >= 0 && r.a10 <= 1 &&
                    r.a11 == 0 && (r.a12 == 0 || r.a12 == 1 || r.a12 == 3))
            << str(r);
    }
    for (int c = 207; c <= 226; ++c) {
        const RealRow& r = kRealRows[c - 1];
        EXPECT_EQ(r.short_name, "N.VAR." + std::to_string(c - 206));
        EXPECT_STREQ(r.description, "Not Used");
    }
}

TEST(VariableCatalogue, RowsGivenInFull) {
    const IntegerRow integers[] = {
        {1, "CONN #1", 1, 0, "IVI_CON1", "Global internal index of node 1 in connectivity table"},
        {9, "TYPE", 1, 0, "IVI_TYPE", "Type or sub-type of entity (element, node, face, join)"},
        {10, "MATERIAL", 2, 3, "IVI_MATNO", "Material number"},
        {12, "STATUS", 2, 3, "IVI_STATUS", "Material status indicator"},
        {17, "PART.NO", 2, 0, "IVI_PART_NO", "Part number"},
        {18, "SUBLAYER MAT.", 3, 3, "IVI_MATNO_SUB", "Material number for shell sublayer N"},
        {26, "EROSION", 1, 3, "IVI_EROSION", "Erosion status, 1 = retain inertia, 2 = no retention of inertia"},
        {28, "GLOBAL_INDEX", 1, 0, "IVI_GLOBAL_INDEX", "Global internal index for entity (node, element, face, join)"},
        {35, "TASK NUMBER", 1, 0, "IVI_TASK_NO", "Assigned task number for parallel processing"},
        {37, "NOT USED", 1, 0, "IVI_DONOTUSE", "Variable not used"},
    };
    const RealRow reals[] = {
        {1, "X", 1, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 3, "IVR_X", "Position X"},
        {4, "X-VELOCITY", 1, 0, 1, -1, 0, 0, 0, 2, 1, 1, 0, 3, "IVR_UX", "Velocity X"},
        {7, "ABS VEL.", 1, 1, 1, -1, 0, 0, 1, 0, 1, 1, 0, 1, "IVR_ABSVEL", "Velocity absolute"},
        {8, "X-FORCE", 1, 0, 2, -2, 1, 0, 0, 1, 1, 1, 0, 0, "IVR_FX", "Force X"},
        {11, "NODE MASS", 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, "IVR_NMASS", "Mass (nodal)"},
        {24, "INITIAL X", 1, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, "IVR_X0", "Initial X-position"},
        {27, "VOLUME", 0, 1, 3, 0, 0, 0, 0, 0, 0, 1, 0, 0, "IVR_VOL", "Volume"},
        {35, "STRAIN XX", 2, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1, "IVR_STNXX", "Strain XX"},
        {48, "STRAIN.2", 2, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1, "IVR_STNS1", "Shell strain 2"},
        {53, "EFF.STN", 1, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 3, "IVR_EFS", "Effective geometric strain"},
        {54, "EFF.PL.STN", 2, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 3, "IVR_EPS", "Effective plastic strain"},
        {64, "PRESSURE", 2, 1, -1, -2, 1, 0, 1, 0, 1, 1, 0, 3, "IVR_PRES", "Pressure"},
        {67, "STRESS XX", 2, 0, -1, -2, 1, 0, 1, 0, 1, 1, 0, 1, "IVR_TXX", "Stress TXX"},
        {79, "MIS.STRESS", 2, 1, -1, -2, 1, 0, 1, 0, 1, 1, 0, 3, "IVR_MISES", "Mises equivalent stress"},
        {81, "INT.ENERGY", 2, 0, 2, -2, 0, 0, 1, 0, 1, 1, 0, 3, "IVR_INT_ENERGY", "Internal Energy"},
        {82, "DENSITY", 2, 0, -3, 0, 1, 0, 1, 0, 1, 1, 0, 1, "IVR_DENSITY", "Density"},
        {86, "TEMP", 2, 0, 0, 0, 0, 1, 1, 0, 1, 1, 0, 1, "IVR_TEMP", "Temperature"},
        {113, "NOT USED", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "NOT USED", "Not Used"},
        {114, "NOT USED", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "NOT USED", "Not Used"},
        {187, "VAR.1", 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1, "IVR_VAR01", "User variable 1"},
        {207, "N.VAR.1", 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0, "", "Not Used"},
        {227, "SUB.STR 1", 3, 0, -1, -2, 1, 0, 1, 0, 1, 1, 0, 1, "IVR_STR1", "Sublayer stress 1 (Shell)"},
        {286, "OLD RB XFORCE", 1, 0, 1, -2, 1, 0, 0, 0, 0, 1, 0, 0, "IVR_FXOLD", "Rigid body force X at previous cycle"},
        {329, "NOT USED", 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "IVR_DONOTUSE", "Variable not used"},
        {601, "HGGAMMA1", 1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, "HGGAMMA1", "Shell hourglass gamma 1"},
        {647, "X-FORCE-local", 1, 0, 1, -2, 1, 0, 0, 1, 1, 1, 0, 0, "IVR_FX_LOCAL", "Force X"},
    };
    for (const IntegerRow& r : integers) EXPECT_EQ(str(kIntegerRows[r.code - 1]), str(r));
    for (const RealRow& r : reals) {
        const RealRow* row = std::find_if(kRealRows, kRealRows + kRealRowCount,
                                          [&](const RealRow& x) { return x.code == r.code; });
        ASSERT_NE(row, kRealRows + kRealRowCount) << r.code;
        EXPECT_EQ(str(*row), str(r));
    }
}

TEST(VariableCatalogue, DictionaryBuiltFromRows) {
    const IntegerHeader& int_empty = integer_header(0);
    const RealHeader& real_empty = real_header(0);
    const auto expect_empty_real = [&](int32_t code) {
        const RealHeader& h = real_header(code);
        EXPECT_EQ(str(RealRow{h.code, h.short_name.c_str(), h.a1, h.a2, h.length, h.time, h.mass, h.temperature,
                              h.a7, h.a8, h.a9, h.a10, h.a11, h.a12, "", ""}),
                  str(RealRow{0, field("").c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", ""}))
            << code;
        EXPECT_EQ(real_texts(code).identifier, field(""));
        EXPECT_EQ(real_texts(code).description, field(""));
    };
    if (!dictionary_built()) {
        for (int32_t c = 1; c <= kRealSlots; c += 97) expect_empty_real(c);
        EXPECT_EQ(integer_header(26).code, 0);
        EXPECT_EQ(integer_texts(26).identifier, field(""));
    }
    build_dictionary();
    build_dictionary();  // a second start-up must not change anything
    ASSERT_TRUE(dictionary_built());

    for (int i = 0; i < kIntegerRowCount; ++i) {
        const IntegerRow& r = kIntegerRows[i];
        const IntegerHeader& h = integer_header(r.code);
        EXPECT_EQ(str(IntegerRow{h.code, h.short_name.c_str(), h.a1, h.a2, integer_texts(r.code).identifier.c_str(),
                                 integer_texts(r.code).description.c_str()}),
                  str(IntegerRow{r.code, field(r.short_name).c_str(), r.a1, r.a2, field(r.identifier).c_str(),
                                 field(r.description).c_str()}));
    }
    for (int i = 0; i < kRealRowCount; ++i) {
        const RealRow& r = kRealRows[i];
        const RealHeader& h = real_header(r.code);
        const Texts& t = real_texts(r.code);
        EXPECT_EQ(str(RealRow{h.code, h.short_name.c_str(), h.a1, h.a2, h.length, h.time, h.mass, h.temperature,
                              h.a7, h.a8, h.a9, h.a10, h.a11, h.a12, t.identifier.c_str(), t.description.c_str()}),
                  str(RealRow{r.code, field(r.short_name).c_str(), r.a1, r.a2, r.length, r.time, r.mass,
                              r.temperature, r.a7, r.a8, r.a9, r.a10, r.a11, r.a12, field(r.identifier).c_str(),
                              field(r.description).c_str()}));
    }

    // Exponents of every slot, empty slots included, against the published runs.
    const auto runs = parse_runs(kExponentRuns);
    for (int32_t c = 1; c <= kRealSlots; ++c) {
        const Exponents e = real_exponents(c);
        const auto it = runs.find(c);
        const Exp expected = it == runs.end() ? Exp{0, 0, 0, 0} : it->second;
        EXPECT_EQ(Exp(e.length, e.time, e.mass, e.temperature), expected) << "real code " << c;
    }
    for (int32_t c = 611; c <= 646; ++c) expect_empty_real(c);
    for (int32_t c : {-1, 0, kRealSlots + 1, 100000}) expect_empty_real(c);
    for (int32_t c : {-1, 0, kIntegerSlots + 1, 658}) {
        EXPECT_EQ(&integer_header(c), &int_empty);
        EXPECT_EQ(integer_texts(c).identifier, field(""));
    }
    EXPECT_EQ(int_empty.code, 0);
    EXPECT_EQ(int_empty.short_name, field(""));
    EXPECT_EQ(int_empty.a1 | int_empty.a2, 0);
    EXPECT_EQ(real_empty.code, 0);

    EXPECT_EQ(integer_texts(26).identifier, field("IVI_EROSION"));
    EXPECT_EQ(real_header(47).short_name, field("STRAIN.1"));
    EXPECT_EQ(real_texts(47).identifier, real_texts(48).identifier);
    EXPECT_EQ(real_texts(207).identifier, field(""));

    for (int i = 0; i < kIntegerSlots; ++i) EXPECT_EQ(integer_code_list()[i], 0) << i;
    for (int i = 0; i < kRealSlots; ++i) EXPECT_EQ(real_code_list()[i], 0) << i;
}

}  // namespace
}  // namespace qv::variables
