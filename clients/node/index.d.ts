// Types of the glimra Node client.

export interface CompareOptions {
  /** Where to write the difference picture when the pictures differ. */
  diff?: string;
  /** Perceived colour difference (YIQ) a pixel must exceed, 0 to 1. */
  threshold?: number;
  /** Anti-aliased pixels do not count. */
  antialiasing?: boolean;
  /** Levels (0-255) a channel may differ by and still count as equal. */
  tolerance?: number;
  /** Regions to leave out, as "WxH+X+Y". */
  ignore?: string[];
  /** Pixels allowed to differ, or "P%" of those compared. */
  maxDiffering?: number | string;
  ignoreAlpha?: boolean;
  highlight?: boolean;
  xor?: boolean;
  /** Seconds for the comparison. */
  timeout?: number;
  maxPixels?: number;
}

/** The JSON object of schema 1 that glimra --json prints for a pair. */
export interface CompareResult {
  schema?: 1;
  id: number | null;
  status: 'identical' | 'similar' | 'different' | 'failed' | 'missing';
  name?: string;
  a?: string;
  b?: string;
  diff?: string | null;
  message?: string;
  width?: number;
  height?: number;
  differingPixels?: number;
  share?: number;
  box?: {x: number; y: number; width: number; height: number};
  largestDelta?: number;
  samples?: '8-bit' | '16-bit' | 'float';
  alpha?: boolean;
  antialiasedPixels?: number;
  reason?: 'size';
  sizeA?: [number, number];
  sizeB?: [number, number];
  milliseconds?: number;
}

export interface GlimraOptions {
  /** The glimra binary; otherwise GLIMRA_BINARY, then the PATH. */
  binary?: string;
  /** Pairs compared at once (the server's --jobs). */
  jobs?: number;
}

export declare class Glimra {
  constructor(options?: GlimraOptions);
  compare(a: string, b: string, options?: CompareOptions): Promise<CompareResult>;
  close(): Promise<void>;
}

export declare function openGlimra(options?: GlimraOptions): Promise<Glimra>;
